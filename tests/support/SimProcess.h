#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/types.h>
#endif

namespace kobito::test {

// kobito-sim (or any program that prints a device path first) as a child
// process: started with arguments, its first output line read, its standard
// error collected. Under Wine the pty relay runs the Linux kobito-sim and
// points COM1 at it: the device path is then "COM1".
class SimProcess {
public:
    SimProcess(const std::string& program, const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The first line of standard output, without its line end; empty when
    // none came in time.
    const std::string& DevicePath() const { return devicePath_; }
    // Everything written to standard error so far.
    std::string Stderr() const;
    // Waits until standard error contains text or timeout passed.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const;
    // SIGTERM, then waits; the exit status as waitpid gives it, -1 if gone.
    int Stop();
    // Waits for the child to end by itself; false on timeout.
    bool WaitExit(std::chrono::milliseconds timeout, int& status);

private:
#ifdef _WIN32
    void ReadRelay();
    std::uintptr_t socket_;
    bool ended_ = false;
    int status_ = -1;
    mutable std::condition_variable changed_;
#else
    pid_t pid_ = -1;
    int stdout_ = -1;
#endif
    std::string devicePath_;
    std::thread stderrReader_;
    mutable std::mutex lock_;
    std::string stderr_;
};

} // namespace kobito::test
