// The serial component's costs on a pseudo-terminal: queuing a pose command,
// and the way from a received byte to OnRxChar.
#include "PoseCommand.h"
#include "VaComm.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The robot's end of a pseudo-terminal, with the slave held open.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path = ptsname(master);
        held = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(held, &t);
        cfmakeraw(&t);
        tcsetattr(held, TCSANOW, &t);
    }
    ~Pty() {
        close(master);
        close(held);
    }
    int master = -1;
    int held = -1;
    std::string path;
};

// A stand-in GUI thread: runs posted calls in order on a thread of its own.
class ThreadDispatcher : public kobito::TVaEventDispatcher {
public:
    ThreadDispatcher()
        : thread_([this] {
              std::unique_lock lock(lock_);
              for (;;) {
                  posted_.wait(lock, [&] { return stop_ || !queue_.empty(); });
                  if (queue_.empty())
                      return;
                  auto fn = std::move(queue_.front());
                  queue_.pop_front();
                  lock.unlock();
                  fn();
                  lock.lock();
              }
          }) {}
    ~ThreadDispatcher() override {
        {
            std::lock_guard g(lock_);
            stop_ = true;
        }
        posted_.notify_all();
        thread_.join();
    }
    void Post(std::function<void()> fn) override {
        {
            std::lock_guard g(lock_);
            queue_.push_back(std::move(fn));
        }
        posted_.notify_all();
    }
    void ShowException(const std::string&) override {}

private:
    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    std::thread thread_;
};

void WriteTextOfAPoseCommand(benchmark::State& state) {
    Pty pty;
    std::atomic<bool> done{false};
    std::thread drain([&] { // the robot reads everything
        char buf[4096];
        while (!done) {
            pollfd p{pty.master, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) [[maybe_unused]]
                const auto n = read(pty.master, buf, sizeof buf);
        }
    });
    kobito::TVaComm comm;
    comm.SetDeviceName(pty.path);
    comm.SetBaudrate(kobito::br57600);
    // The default raises the write thread, where the system allows it; a
    // raised writer may then run first on a busy machine.
    comm.SetWritePriority(static_cast<kobito::TVaThreadPriority>(state.range(0)));
    comm.Open();
    const std::string pose =
        kobito::BuildPoseCommand({90, 90, 0, 130, 90, 180, 50, 90, 90, 90, 90, 90, 0, 0, 255, 10});
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(comm.WriteText(pose));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        // The queue drains between commands, as in use.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 102);
    comm.Close();
    done = true;
    drain.join();
}
BENCHMARK(WriteTextOfAPoseCommand)
    ->ArgName("write_priority")
    ->Arg(kobito::tpHighest)
    ->Arg(kobito::tpNormal)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Iterations(2000);

void ByteToOnRxChar(benchmark::State& state) {
    Pty pty;
    ThreadDispatcher gui;
    kobito::TVaComm comm(&gui);
    comm.SetDeviceName(pty.path);
    comm.SetBaudrate(kobito::br57600);
    std::mutex m;
    std::condition_variable cv;
    bool arrived = false;
    Clock::time_point handled;
    comm.OnRxChar = [&](kobito::TVaComponent*, int) {
        comm.ReadText();
        std::lock_guard g(m);
        handled = Clock::now();
        arrived = true;
        cv.notify_all();
    };
    comm.Open();
    for (auto _ : state) {
        std::unique_lock lock(m);
        arrived = false;
        const auto sent = Clock::now();
        [[maybe_unused]] const auto n = write(pty.master, "#", 1);
        cv.wait(lock, [&] { return arrived; });
        state.SetIterationTime(std::chrono::duration<double>(handled - sent).count());
    }
    comm.Close();
}
BENCHMARK(ByteToOnRxChar)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Iterations(500);

} // namespace

BENCHMARK_MAIN();
