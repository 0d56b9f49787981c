// Start-up: from process start to the first frame of the window on Qt's
// offscreen platform, for the program and for an empty Qt main window built
// beside it; and the program's resident memory at that moment.
#include "MedianReport.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Launch {
    bool ok = false;
    double seconds = 0; // process start to first frame
    double rssMb = 0;
    double hwmMb = 0;
};

// Starts the program, reads its first-frame line and waits for it to end.
Launch Run(const char* program) {
    Launch result;
    int out[2];
    if (pipe(out) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return result;
    }
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    long long ns = 0;
    long rss = 0;
    long hwm = 0;
    const auto at = text.find("first-frame ");
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "first-frame %lld %ld %ld", &ns, &rss, &hwm) != 3)
        return result;
    const auto frame = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
    result.ok = true;
    result.seconds = std::chrono::duration<double>(frame - start).count();
    result.rssMb = static_cast<double>(rss) / 1024.0;
    result.hwmMb = static_cast<double>(hwm) / 1024.0;
    return result;
}

void StartToFirstFrame(benchmark::State& state, const char* program) {
    Run(program); // warms the file cache and the font cache
    double rss = 0;
    double hwm = 0;
    for (auto _ : state) {
        const Launch launch = Run(program);
        if (!launch.ok) {
            state.SkipWithError("the program reported no first frame");
            break;
        }
        state.SetIterationTime(launch.seconds);
        rss += launch.rssMb;
        hwm += launch.hwmMb;
    }
    state.counters["VmRSS_MB"] = benchmark::Counter(rss, benchmark::Counter::kAvgIterations);
    state.counters["VmHWM_MB"] = benchmark::Counter(hwm, benchmark::Counter::kAvgIterations);
}
BENCHMARK_CAPTURE(StartToFirstFrame, kobito_motion, KOBITO_FIRST_FRAME_PATH)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(StartToFirstFrame, empty_main_window, EMPTY_FIRST_FRAME_PATH)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    kobito::bench::MedianReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);

    const std::string program = "StartToFirstFrame/kobito_motion";
    const std::string empty = "StartToFirstFrame/empty_main_window";
    std::printf("\n");
    report.PrintMedian(program, "ms");
    report.PrintMedian(empty, "ms");
    report.PrintRatio("start-up kobito-motion / empty window", program, empty, 3.0);
    if (report.Has(program))
        std::printf("memory  %-40s VmRSS %.1f MB, VmHWM %.1f MB   (goal VmRSS <= 120 MB: %s)\n",
                    "kobito-motion after its first frame", report.Counter(program, "VmRSS_MB"),
                    report.Counter(program, "VmHWM_MB"),
                    report.Counter(program, "VmRSS_MB") <= 120 ? "met" : "MISSED");
    benchmark::Shutdown();
    return 0;
}
