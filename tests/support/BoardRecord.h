#pragma once
// The commands a simulated board took, in order, kept for a test or a
// benchmark: the most recent kSize, each with the time its last byte came.
// Attached through the board's observer from construction to destruction.
#include "SimulatedPort.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace kobito::test {

class BoardRecord {
public:
    static constexpr std::size_t kSize = 10000;

    explicit BoardRecord(std::shared_ptr<sim::SimBoard> board) : board_(std::move(board)) {
        if (board_)
            board_->SetObserver([this](const sim::Command& c) { Add(c); });
    }
    ~BoardRecord() {
        if (board_)
            board_->SetObserver(nullptr);
    }
    BoardRecord(const BoardRecord&) = delete;
    BoardRecord& operator=(const BoardRecord&) = delete;

    // Oldest first.
    std::vector<sim::Command> Commands() const {
        std::lock_guard g(lock_);
        return {commands_.begin(), commands_.end()};
    }

private:
    void Add(const sim::Command& c) {
        std::lock_guard g(lock_);
        commands_.push_back(c);
        if (commands_.size() > kSize)
            commands_.pop_front();
    }

    std::shared_ptr<sim::SimBoard> board_;
    mutable std::mutex lock_;
    std::deque<sim::Command> commands_;
};

} // namespace kobito::test
