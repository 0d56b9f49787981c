// How closely playback follows the robot: from "#QPT000" leaving the robot to
// the next pose arriving there, over 200 rows, and the spacing of the "#Q"
// polls while the robot moves. Both are read from the simulator's record, so
// they include the serial line and the window's event handling.
#include "Application.h"
#include "DialogDouble.h"
#include "FormAccess.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"

#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Event {
    double ms;
    bool rx;
    QByteArray text;
};

std::vector<Event> ReadRecord(const QString& path) {
    std::vector<Event> events;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3)
            continue;
        events.push_back({parts[0].toDouble() / 1e6, parts[1] == "RX", parts[2]});
    }
    return events;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Plays the whole table (every row playable) on the simulator until enough
// poses went out, then stops; returns the record.
std::vector<Event> Play(int timeUnits, int unitMs, int poses) {
    QTemporaryDir dir;
    const QString record = dir.filePath("record");
    kobito::test::SimProcess sim(KOBITO_SIM_PATH, {"--time-unit-ms", std::to_string(unitMs),
                                                   "--record", record.toStdString()});
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access(form);
    form.show();
    for (int r = 0; r < 100; ++r)
        access.SetCell(r, 16, QString::number(timeUnits));
    form.findChild<QComboBox*>("cbxComPort")->setEditText(QString::fromStdString(sim.DevicePath()));
    QTest::mouseClick(form.findChild<TButton*>("btnConnect"), Qt::LeftButton);
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    auto sent = [&] {
        const auto events = ReadRecord(record);
        return std::count_if(events.begin(), events.end(),
                             [](const Event& e) { return e.rx && e.text.startsWith("#P"); });
    };
    if (!QTest::qWaitFor([&] { return sent() >= poses; }, 120000))
        std::fprintf(stderr, "bench_playback: only %d poses went out\n", int(sent()));
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    return ReadRecord(record);
}

// The robot finishes at once: the next pose follows its finished reply.
void BM_FinishedReplyToNextPose(benchmark::State& state) {
    std::vector<double> gaps;
    for (auto _ : state) {
        const auto events = Play(1, 1, 201);
        double finishedAt = -1;
        for (const Event& e : events) {
            if (!e.rx && e.text == "#QPT000") {
                finishedAt = e.ms;
            } else if (e.rx && e.text.startsWith("#P") && finishedAt >= 0) {
                gaps.push_back(e.ms - finishedAt);
                finishedAt = -1;
            }
        }
    }
    state.counters["rows"] = double(gaps.size());
    state.counters["median_ms"] = Median(gaps);
    state.counters["max_ms"] = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
}
BENCHMARK(BM_FinishedReplyToNextPose)->Iterations(1)->Unit(benchmark::kMillisecond);

// The robot moves for 600 ms per row: the polls' spacing.
void BM_PollSpacingWhileMoving(benchmark::State& state) {
    std::vector<double> spacing;
    for (auto _ : state) {
        const auto events = Play(60, 10, 4);
        double lastPoll = -1;
        for (const Event& e : events) {
            if (e.rx && e.text == "#Q") {
                if (lastPoll >= 0)
                    spacing.push_back(e.ms - lastPoll);
                lastPoll = e.ms;
            } else if (e.rx) {
                lastPoll = -1; // a pose starts a new move
            }
        }
    }
    std::sort(spacing.begin(), spacing.end());
    state.counters["polls"] = double(spacing.size());
    state.counters["median_ms"] = Median(spacing);
    state.counters["min_ms"] = spacing.empty() ? 0 : spacing.front();
    state.counters["max_ms"] = spacing.empty() ? 0 : spacing.back();
}
BENCHMARK(BM_PollSpacingWhileMoving)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
