// How playback paces the robot, read from the simulator's record (each
// command stamped when its last byte came), so the figures include the
// serial line and the window's event handling:
//  - from "#QPT000" leaving the robot to the next row arriving there;
//  - the spacing of the "#Q" polls while the robot moves;
//  - the shortest gap between two commands on the line, reported only: it
//    includes the pseudo-terminal's own write latency;
//  - the shortest gap between two commands handed to the serial component.
// Each runs once over a few hundred samples and prints its goal with
// "met" or "MISSED".
#include "Application.h"
#include "DialogDouble.h"
#include "EventLoop.h"
#include "FormAccess.h"
#include "PacingFigures.h"
#include "SimProcess.h"
#include "SimRecord.h"
#include "uMain.h"

#include "Button.h"

#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using kobito::test::SimEvent;

double Ms(int64_t ns) {
    return double(ns) / 1e6;
}

kobito::bench::PacingFigures figures;

// Plays the table (row r's move time given by time(r), every row playable)
// on the simulator until `rows` rows went out, then stops; returns the record.
std::vector<SimEvent> Play(const std::function<int(int)>& time, int unitMs, int rows) {
    QTemporaryDir dir;
    const std::string record = dir.filePath("record").toStdString();
    kobito::test::SimProcess sim(KOBITO_SIM_PATH,
                                 {"--time-unit-ms", std::to_string(unitMs), "--record", record});
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access(form);
    int64_t lastHandOff = -1;
    access.OnPlaybackHandOff([&](const QString&, qint64 ns) {
        if (lastHandOff >= 0)
            figures.handOffGaps.push_back(Ms(ns - lastHandOff));
        lastHandOff = ns;
    });
    form.show();
    for (int r = 0; r < 100; ++r) {
        access.SetCell(r, 1, QString::number(r));
        access.SetCell(r, 16, QString::number(time(r)));
    }
    form.findChild<QComboBox*>("cbxComPort")->setEditText(QString::fromStdString(sim.DevicePath()));
    QTest::mouseClick(form.findChild<TButton*>("btnConnect"), Qt::LeftButton);
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    auto sent = [&] {
        const auto events = kobito::test::ReadSimRecord(record);
        return std::count_if(events.begin(), events.end(),
                             [](const SimEvent& e) { return e.rx && e.text.starts_with("#P"); });
    };
    if (!kobito::test::RunEventLoopUntil([&] { return sent() >= rows; }, 300000))
        std::fprintf(stderr, "bench_playback: only %d rows went out\n", int(sent()));
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    QTest::qWait(100);
    return kobito::test::ReadSimRecord(record);
}

// The robot finishes within a millisecond: the next row follows its reply.
void BM_FinishedReplyToNextRow(benchmark::State& state) {
    for (auto _ : state) {
        const auto events = Play([](int) { return 1; }, 1, 201);
        int64_t finishedAt = -1;
        for (const SimEvent& e : events) {
            if (!e.rx && e.text == "#QPT000") {
                finishedAt = e.ns;
            } else if (e.rx && e.text.starts_with("#P") && finishedAt >= 0) {
                figures.replyToRow.push_back(Ms(e.ns - finishedAt));
                finishedAt = -1;
            }
        }
    }
    state.counters["rows"] = double(figures.replyToRow.size());
    state.counters["median_ms"] = kobito::bench::PacingFigures::Median(figures.replyToRow);
}
BENCHMARK(BM_FinishedReplyToNextRow)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// The robot moves for 600 ms a row: the polls' spacing.
void BM_PollSpacingWhileMoving(benchmark::State& state) {
    for (auto _ : state) {
        const auto events = Play([](int) { return 60; }, 10, 21);
        int64_t lastPoll = -1;
        for (const SimEvent& e : events) {
            if (e.rx && e.text == "#Q") {
                if (lastPoll >= 0)
                    figures.pollSpacing.push_back(Ms(e.ns - lastPoll));
                lastPoll = e.ns;
            } else if (e.rx) {
                lastPoll = -1; // a row starts a new move
            }
        }
    }
    state.counters["polls"] = double(figures.pollSpacing.size());
    state.counters["median_ms"] = kobito::bench::PacingFigures::Median(figures.pollSpacing);
}
BENCHMARK(BM_PollSpacingWhileMoving)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 100-row run of mixed move times (10 to 140 ms): any two commands.
void BM_ShortestCommandGap(benchmark::State& state) {
    for (auto _ : state) {
        const auto commands =
            kobito::test::ReceivedCommands(Play([](int r) { return 1 + (r * 37) % 14; }, 10, 101));
        for (std::size_t i = 1; i < commands.size(); ++i)
            figures.commandGaps.push_back(Ms(commands[i].ns - commands[i - 1].ns));
    }
    state.counters["commands"] = double(figures.commandGaps.size() + 1);
}
BENCHMARK(BM_ShortestCommandGap)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    figures.Print("");
    benchmark::Shutdown();
    return 0;
}
