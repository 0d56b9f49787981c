#pragma once
// A named pipe that nobody writes to, for tests that a reader never waits on
// one. POSIX only.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kobito::test {

// Should a reader open the pipe anyway, it would wait there for a writer
// for ever: a watcher then plays the writer for a moment, so that the reader
// sees an empty pipe and the test fails instead of hanging. readerOpened()
// tells whether that happened.
class UnwrittenFifo {
public:
    explicit UnwrittenFifo(std::string path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            throw std::runtime_error("cannot make FIFO " + path_);
        watcher_ = std::thread([this] {
            while (!stop_) {
                // Succeeds only while a reader has the pipe open.
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    readerOpened_ = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~UnwrittenFifo() {
        stop_ = true;
        watcher_.join();
        ::unlink(path_.c_str());
    }
    UnwrittenFifo(const UnwrittenFifo&) = delete;
    UnwrittenFifo& operator=(const UnwrittenFifo&) = delete;

    const std::string& path() const { return path_; }
    bool readerOpened() const { return readerOpened_; }

private:
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> readerOpened_{false};
    std::thread watcher_;
};

} // namespace kobito::test
