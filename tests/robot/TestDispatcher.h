#pragma once
#include "VaEventDispatcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kobito::test {

// The GUI thread of a test: posted calls wait in a queue until the test's
// own thread runs them.
class TestDispatcher : public TVaEventDispatcher {
public:
    void Post(std::function<void()> fn) override {
        {
            std::lock_guard g(lock_);
            queue_.push_back(std::move(fn));
        }
        posted_.notify_all();
    }
    void ShowException(const std::string& message) override { exceptions.push_back(message); }

    // Runs posted calls until done() holds or timeout passed; done() is
    // checked after every call.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (done())
                return true;
            std::function<void()> fn;
            {
                std::unique_lock lock(lock_);
                if (!posted_.wait_until(lock, deadline, [&] { return !queue_.empty(); }))
                    return done();
                fn = std::move(queue_.front());
                queue_.pop_front();
            }
            fn();
        }
    }
    // Runs posted calls for a while.
    void RunFor(std::chrono::milliseconds time) {
        RunUntil([] { return false; }, time);
    }
    // Waits, without running anything, until a call has been posted.
    bool WaitPosted(std::chrono::milliseconds timeout) {
        std::unique_lock lock(lock_);
        return posted_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
    }
    std::size_t Waiting() {
        std::lock_guard g(lock_);
        return queue_.size();
    }

    std::vector<std::string> exceptions;

private:
    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

} // namespace kobito::test
