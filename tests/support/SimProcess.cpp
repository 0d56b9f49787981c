#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kobito::test {

using Clock = std::chrono::steady_clock;

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe");
    for (int fd : {out[0], out[1], err[0], err[1]})
        fcntl(fd, F_SETFD, FD_CLOEXEC); // other children must not hold them
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
    stdout_ = out[0];
    const int errFd = err[0];
    stderrReader_ = std::thread([this, errFd] {
        char buf[1024];
        ssize_t r;
        while ((r = read(errFd, buf, sizeof buf)) > 0 || (r < 0 && errno == EINTR)) {
            if (r > 0) {
                std::lock_guard g(lock_);
                stderr_.append(buf, static_cast<std::size_t>(r));
            }
        }
        close(errFd);
    });

    // The first line, within a few seconds.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string line;
    while (Clock::now() < deadline) {
        pollfd p{stdout_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char c;
        const ssize_t r = read(stdout_, &c, 1);
        if (r <= 0)
            break;
        if (c == '\n') {
            devicePath_ = line;
            break;
        }
        line += c;
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (stderrReader_.joinable())
        stderrReader_.join();
    if (stdout_ >= 0)
        close(stdout_);
}

std::string SimProcess::Stderr() const {
    std::lock_guard g(lock_);
    return stderr_;
}

bool SimProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    do {
        if (Stderr().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return Stderr().find(text) != std::string::npos;
}

int SimProcess::Stop() {
    if (pid_ < 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

bool SimProcess::WaitExit(std::chrono::milliseconds timeout, int& status) {
    if (pid_ < 0)
        return false;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace kobito::test
