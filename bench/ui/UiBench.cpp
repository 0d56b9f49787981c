// The window's costs: one log line on a short and on a long log, and the way
// from a byte on the robot's side of a pseudo-terminal to the log line that
// VaComm1RxChar writes on the GUI thread.
#include "Application.h"
#include "DialogDouble.h"
#include "FormAccess.h"
#include "MedianReport.h"
#include "Pty.h"
#include "uMain.h"

#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The GUI thread's processor time: what the work cost, however busy the
// machine is with other processes.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One window for every benchmark, shown on the log tab as a user watching
// the robot's replies would have it; dialogs go to a double.
struct Window {
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;

    Window() {
        form.show();
        TabTo(form, "tabLog");
        if (!QTest::qWaitForWindowExposed(&form))
            std::fprintf(stderr, "bench_ui: the window was never exposed\n");
    }
    QPlainTextEdit* Log() { return form.findChild<QPlainTextEdit*>(QStringLiteral("memLog")); }
};
Window* window = nullptr;

const QString kReply = QStringLiteral("#QPT000");

// Fills the log with lines through the window's AddLog, unless it already
// holds that many (the appends below keep its length).
void FillLog(QPlainTextEdit* log, int lines) {
    if (log->document()->blockCount() == lines)
        return;
    log->clear();
    TForm1Access access(window->form);
    for (int i = 0; i < lines; ++i)
        access.AddLog(LogRobot, LogRecv, kReply);
    QCoreApplication::processEvents();
}

// Keeps the log at its length between appends.
void DropFirstLine(QPlainTextEdit* log) {
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

// range(0): lines already in the log. range(1): 1 to include the repaint
// that shows the line, 0 for AddLog alone.
void AddLog(benchmark::State& state) {
    QPlainTextEdit* log = window->Log();
    TForm1Access access(window->form);
    FillLog(log, static_cast<int>(state.range(0)));
    const bool painted = state.range(1) != 0;
    double cpu = 0;
    for (auto _ : state) {
        const double startCpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        access.AddLog(LogRobot, LogRecv, kReply);
        if (painted)
            QCoreApplication::processEvents();
        const auto end = Clock::now();
        cpu += ThreadCpuSeconds() - startCpu;
        state.SetIterationTime(Seconds(end - start));
        DropFirstLine(log);
        QCoreApplication::processEvents();
    }
    state.counters["lines"] = log->document()->blockCount();
    state.counters["cpu_us"] = benchmark::Counter(cpu * 1e6, benchmark::Counter::kAvgIterations);
}
BENCHMARK(AddLog)
    ->ArgNames({"lines", "painted"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1000);

// Opens the window's port on the pseudo-terminal by its typed path, as a
// user does with the simulator, and closes it at the end.
class OpenPort {
public:
    explicit OpenPort(const std::string& path) {
        auto* port = window->form.findChild<QComboBox*>(QStringLiteral("cbxComPort"));
        port->setEditText(QString::fromStdString(path));
        Connect()->click();
        ok_ = Connect()->text() == QStringLiteral("切断 Close");
    }
    ~OpenPort() {
        if (ok_)
            Connect()->click();
        QCoreApplication::processEvents();
    }
    bool ok() const { return ok_; }

private:
    static QPushButton* Connect() {
        return window->form.findChild<QPushButton*>(QStringLiteral("btnConnect"));
    }
    bool ok_ = false;
};

void ByteToRxCharLogLine(benchmark::State& state) {
    kobito::test::PtyPair pty;
    QPlainTextEdit* log = window->Log();
    log->clear();
    OpenPort port(pty.SlavePath());
    if (!port.ok()) {
        state.SkipWithError("the window did not open the pseudo-terminal");
        return;
    }
    QCoreApplication::processEvents(); // the open event's log line

    // The handler's log line is the first change to the document after the
    // byte is written; the event loop runs until it comes.
    QEventLoop loop;
    bool arrived = false;
    Clock::time_point shown;
    const auto hook = QObject::connect(log->document(), &QTextDocument::contentsChanged, [&] {
        if (!arrived) {
            shown = Clock::now();
            arrived = true;
            loop.quit();
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

    const int before = log->document()->blockCount();
    for (auto _ : state) {
        arrived = false;
        guard.start(2000);
        const auto sent = Clock::now();
        pty.Write("#");
        loop.exec();
        guard.stop();
        if (!arrived) {
            state.SkipWithError("no log line within 2 s");
            break;
        }
        state.SetIterationTime(Seconds(shown - sent));
        QCoreApplication::processEvents(); // its repaint, outside the figure
    }
    QObject::disconnect(hook);
    state.counters["lines"] = log->document()->blockCount() - before;
}
BENCHMARK(ByteToRxCharLogLine)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    auto owned = std::make_unique<Window>();
    window = owned.get();

    kobito::bench::MedianReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);

    std::printf("\n");
    for (const char* key :
         {"AddLog/lines:1000/painted:0", "AddLog/lines:100000/painted:0",
          "AddLog/lines:1000/painted:1", "AddLog/lines:100000/painted:1", "ByteToRxCharLogLine"})
        report.PrintMedian(key);
    report.PrintRatio("AddLog 100000 / 1000 lines", "AddLog/lines:100000/painted:0",
                      "AddLog/lines:1000/painted:0", 1.5);
    report.PrintCounterRatio("AddLog 100000 / 1000 lines, thread time", "cpu_us",
                             "AddLog/lines:100000/painted:0", "AddLog/lines:1000/painted:0", 1.5);
    report.PrintRatio("AddLog+paint 100000 / 1000 lines", "AddLog/lines:100000/painted:1",
                      "AddLog/lines:1000/painted:1", 1.5);
    report.PrintCounterRatio("AddLog+paint 100000 / 1000, thread time", "cpu_us",
                             "AddLog/lines:100000/painted:1", "AddLog/lines:1000/painted:1", 1.5);

    window = nullptr;
    owned.reset();
    benchmark::Shutdown();
    return 0;
}
