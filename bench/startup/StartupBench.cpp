// Start-up: from process start to the first frame of the window on Qt's
// offscreen platform, for the program and for an empty Qt main window built
// beside it; and the program's resident memory at that moment.
//
// The two are started in pairs, in alternating order, so that both see the
// same load on a shared machine; the ratio is taken within each repetition.
#include "MedianReport.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Launch {
    bool ok = false;
    double seconds = 0;    // process start to first frame
    double cpuSeconds = 0; // user and system time up to the first frame
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
    long long cpuUs = 0;
    const auto at = text.find("first-frame ");
    if (at == std::string::npos || std::sscanf(text.c_str() + at, "first-frame %lld %ld %ld %lld",
                                               &ns, &rss, &hwm, &cpuUs) != 4)
        return result;
    const auto frame = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
    result.ok = true;
    result.seconds = std::chrono::duration<double>(frame - start).count();
    result.cpuSeconds = static_cast<double>(cpuUs) / 1e6;
    result.rssMb = static_cast<double>(rss) / 1024.0;
    result.hwmMb = static_cast<double>(hwm) / 1024.0;
    return result;
}

// The benchmark's time is the program's; the empty window's time, the ratio
// and the program's memory are counters.
void StartToFirstFrame(benchmark::State& state) {
    Run(EMPTY_FIRST_FRAME_PATH); // warms the file and font caches
    Run(KOBITO_FIRST_FRAME_PATH);
    Launch program;
    Launch empty;
    bool programFirst = false;
    for (auto _ : state) {
        Launch a;
        Launch b;
        programFirst = !programFirst;
        if (programFirst) {
            a = Run(KOBITO_FIRST_FRAME_PATH);
            b = Run(EMPTY_FIRST_FRAME_PATH);
        } else {
            b = Run(EMPTY_FIRST_FRAME_PATH);
            a = Run(KOBITO_FIRST_FRAME_PATH);
        }
        if (!a.ok || !b.ok) {
            state.SkipWithError("a program reported no first frame");
            break;
        }
        state.SetIterationTime(a.seconds);
        program.seconds += a.seconds;
        program.cpuSeconds += a.cpuSeconds;
        program.rssMb += a.rssMb;
        program.hwmMb += a.hwmMb;
        empty.seconds += b.seconds;
        empty.cpuSeconds += b.cpuSeconds;
        empty.rssMb += b.rssMb;
    }
    using benchmark::Counter;
    state.counters["empty_ms"] = Counter(empty.seconds * 1e3, Counter::kAvgIterations);
    state.counters["ratio"] = empty.seconds > 0 ? program.seconds / empty.seconds : 0;
    state.counters["cpu_ms"] = Counter(program.cpuSeconds * 1e3, Counter::kAvgIterations);
    state.counters["empty_cpu_ms"] = Counter(empty.cpuSeconds * 1e3, Counter::kAvgIterations);
    state.counters["cpu_ratio"] = empty.cpuSeconds > 0 ? program.cpuSeconds / empty.cpuSeconds : 0;
    state.counters["VmRSS_MB"] = Counter(program.rssMb, Counter::kAvgIterations);
    state.counters["VmHWM_MB"] = Counter(program.hwmMb, Counter::kAvgIterations);
    state.counters["empty_VmRSS_MB"] = Counter(empty.rssMb, Counter::kAvgIterations);
}
BENCHMARK(StartToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    kobito::bench::MedianReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);

    const std::string key = "StartToFirstFrame";
    std::printf("\n");
    if (!report.Has(key)) {
        std::printf("start-up: no figures\n");
        benchmark::Shutdown();
        return 1;
    }
    const double ratio = report.Counter(key, "ratio");
    const double rss = report.Counter(key, "VmRSS_MB");
    std::printf("median  %-40s %12.3f ms\n", "start-up kobito-motion", report.Seconds(key) * 1e3);
    std::printf("median  %-40s %12.3f ms\n", "start-up empty main window",
                report.Counter(key, "empty_ms"));
    std::printf("ratio   %-40s %12.2f   (goal <= 3.0: %s)\n", "start-up kobito-motion / empty",
                ratio, ratio <= 3.0 ? "met" : "MISSED");
    std::printf("ratio   %-40s %12.2f   (%.1f ms / %.1f ms of processor time)\n",
                "start-up processor time, same", report.Counter(key, "cpu_ratio"),
                report.Counter(key, "cpu_ms"), report.Counter(key, "empty_cpu_ms"));
    std::printf("memory  %-40s VmRSS %.1f MB, VmHWM %.1f MB   (goal VmRSS <= 120 MB: %s)\n",
                "kobito-motion after its first frame", rss, report.Counter(key, "VmHWM_MB"),
                rss <= 120 ? "met" : "MISSED");
    std::printf("memory  %-40s VmRSS %.1f MB\n", "empty main window after its first frame",
                report.Counter(key, "empty_VmRSS_MB"));
    benchmark::Shutdown();
    return 0;
}
