// The simulator view and the simulated port:
//  - one frame of the view while all twelve servos move: placing the arcs and
//    the eyes and painting the window, on the GUI thread;
//  - playback on the simulated port with the view open, read from the
//    board's record (each command taken from when its first byte was across):
//    finished reply -> next row, the polls' spacing while the robot moves,
//    and the shortest gap between two commands over 100 rows.
// Each prints its goal with "met" or "MISSED".
#include "Application.h"
#include "BoardRecord.h"
#include "DialogDouble.h"
#include "EventLoop.h"
#include "FormAccess.h"
#include "MedianReport.h"
#include "PacingFigures.h"
#include "SimulatorView.h"
#include "uMain.h"

#include "Button.h"

#include "PoseCommand.h"
#include "SimRobot.h"
#include "SimulatedPort.h"

#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

using kobito::sim::Clock;
using kobito::sim::Command;
using namespace std::chrono_literals;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// When a command's first byte was across: rows take 17.7 ms to cross the
// line, polls 0.3 ms, so the program's pacing shows in the first bytes.
Clock::time_point Began(const Command& c) {
    return c.arrived - kobito::sim::kByteTime * int64_t(c.text.size() - 1);
}

// The GUI thread's processor time: what a frame costs that thread, however
// busy the machine is with other processes.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// A frame: the board's state at the frame's time placed on the picture, and
// the view painted at once, as the frame timer's tick does it; timed in the
// GUI thread's processor time (wall time as a counter).
void BM_SimulatorViewFrame(benchmark::State& state) {
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    form.show();
    TFormSimulator view(&form);
    auto board = std::make_shared<kobito::sim::SimBoard>();
    view.SetBoard(board);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        std::fprintf(stderr, "bench_simulator: the view was never exposed\n");
    // Every servo sweeps across its range for a long while.
    std::array<int32_t, 16> pose{};
    for (int k = 0; k < 12; ++k)
        pose[size_t(k)] = k % 2 == 0 ? 180 : 0;
    pose[12] = 255;
    pose[15] = 100000;
    const Clock::time_point start = Clock::now();
    board->Handle(Command{kobito::BuildPoseCommand(pose), start});

    Clock::time_point t = start;
    double wall = 0;
    for (auto _ : state) {
        t += 16ms;
        const auto begin = Clock::now();
        const double cpu = ThreadCpuSeconds();
        view.ShowAt(t);
        view.repaint();
        state.SetIterationTime(ThreadCpuSeconds() - cpu);
        wall += std::chrono::duration<double>(Clock::now() - begin).count();
    }
    state.counters["wall_us"] = wall * 1e6 / double(state.iterations());
    view.SetBoard(nullptr);
}
BENCHMARK(BM_SimulatorViewFrame)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

kobito::bench::PacingFigures figures;

// Plays the table on the simulated port with the view open until `rows`
// rows went out, then stops; returns the commands the board took.
std::vector<Command> Play(const std::function<int(int)>& time, int rows) {
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access(form);
    form.show();
    for (int r = 0; r < 100; ++r) {
        access.SetCell(r, 1, QString::number(r));
        access.SetCell(r, 16, QString::number(time(r)));
    }
    auto* port = form.findChild<QComboBox*>("cbxComPort");
    port->setCurrentIndex(port->findText(kobito::kSimulatorDeviceName));
    QTest::mouseClick(form.findChild<TButton*>("btnConnect"), Qt::LeftButton);
    auto* view = form.findChild<TFormSimulator*>("FormSimulator");
    if (view == nullptr || !view->isVisible()) {
        std::fprintf(stderr, "bench_simulator: the view did not open\n");
        return {};
    }
    const kobito::test::BoardRecord record(view->Board());
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    auto sent = [&] {
        const auto commands = record.Commands();
        return std::count_if(commands.begin(), commands.end(),
                             [](const Command& c) { return c.text.starts_with("#P"); });
    };
    if (!kobito::test::RunEventLoopUntil([&] { return sent() >= rows; }, 300000))
        std::fprintf(stderr, "bench_simulator: only %d rows went out\n", int(sent()));
    QTest::mouseClick(form.findChild<TButton*>("btnRun"), Qt::LeftButton);
    QTest::qWait(100);
    return record.Commands();
}

// When the board sent "#QPT000": it knew a "#Q" had ended at the next
// command's first byte or after the idle gap, whichever came first.
std::vector<Clock::time_point> FinishedReplies(const std::vector<Command>& record) {
    std::vector<Clock::time_point> out;
    kobito::sim::SimRobot robot{kobito::sim::kTimeUnit};
    for (std::size_t i = 0; i < record.size(); ++i) {
        const auto reply = robot.Handle(record[i].text, record[i].arrived).reply;
        if (!reply || *reply != "#QPT000")
            continue;
        Clock::time_point known = record[i].arrived + kobito::sim::kIdleGap;
        if (i + 1 < record.size())
            known = std::min(known, Began(record[i + 1]));
        out.push_back(known);
    }
    return out;
}

// The robot finishes within 10 ms: the next row follows its reply.
void BM_FinishedReplyToNextRow(benchmark::State& state) {
    for (auto _ : state) {
        const auto record = Play([](int) { return 1; }, 201);
        const auto replies = FinishedReplies(record);
        std::size_t j = 0;
        for (const Command& c : record) {
            if (!c.text.starts_with("#P"))
                continue;
            // The last finished reply before this row.
            Clock::time_point last{};
            while (j < replies.size() && replies[j] <= Began(c))
                last = replies[j++];
            if (last != Clock::time_point{})
                figures.replyToRow.push_back(Ms(Began(c) - last));
        }
    }
    state.counters["rows"] = double(figures.replyToRow.size());
}
BENCHMARK(BM_FinishedReplyToNextRow)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// The robot moves for 600 ms a row: the polls' spacing.
void BM_PollSpacingWhileMoving(benchmark::State& state) {
    for (auto _ : state) {
        Clock::time_point lastPoll{};
        for (const Command& c : Play([](int) { return 60; }, 21)) {
            if (c.text == "#Q") {
                if (lastPoll != Clock::time_point{})
                    figures.pollSpacing.push_back(Ms(Began(c) - lastPoll));
                lastPoll = Began(c);
            } else {
                lastPoll = {}; // a row starts a new move
            }
        }
    }
    state.counters["polls"] = double(figures.pollSpacing.size());
}
BENCHMARK(BM_PollSpacingWhileMoving)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 100-row run of mixed move times (10 to 140 ms): any two commands.
void BM_ShortestCommandGap(benchmark::State& state) {
    for (auto _ : state) {
        const auto record = Play([](int r) { return 1 + (r * 37) % 14; }, 101);
        for (std::size_t i = 1; i < record.size(); ++i)
            figures.commandGaps.push_back(Ms(Began(record[i]) - Began(record[i - 1])));
    }
    state.counters["commands"] = double(figures.commandGaps.size() + 1);
}
BENCHMARK(BM_ShortestCommandGap)->Repetitions(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void PrintSummary(const kobito::bench::MedianReporter& report) {
    std::printf("\n");
    if (report.Has("BM_SimulatorViewFrame")) {
        const double ms = report.Seconds("BM_SimulatorViewFrame") * 1e3;
        std::printf("median  %-40s %12.3f ms  (GUI thread time; goal <= 2: %s)\n",
                    "simulator view frame, 12 servos moving", ms, Verdict(ms <= 2));
    }
    figures.Print("view open: ");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    kobito::bench::MedianReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);
    PrintSummary(report);
    benchmark::Shutdown();
    return 0;
}
