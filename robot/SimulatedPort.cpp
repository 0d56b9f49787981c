#include "SimulatedPort.h"

#include "SerialBackend.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>

namespace kobito {

namespace sim {

SimBoard::SimBoard(std::chrono::milliseconds timeUnit) : robot_(timeUnit) {}

std::optional<std::string> SimBoard::Handle(const Command& command) {
    std::optional<std::string> reply;
    {
        std::lock_guard g(lock_);
        // Malformed and unknown commands are taken without a word, as the
        // real board takes them; the view shows the last one and why.
        auto result = robot_.Handle(command.text, command.arrived);
        if (!result.reason.empty()) {
            refused_ = Escape(command.text);
            refusedReason_ = std::move(result.reason);
        }
        reply = std::move(result.reply);
    }
    std::lock_guard g(listenerLock_);
    if (observer_)
        observer_(command);
    if (listener_)
        listener_();
    return reply;
}

SimBoard::State SimBoard::At(Clock::time_point t) const {
    std::lock_guard g(lock_);
    State s;
    for (int k = 0; k < kSimServos; ++k)
        s.angles[static_cast<std::size_t>(k)] = robot_.Angle(k, t);
    const auto& pose = robot_.Pose();
    s.eyes = {pose[12], pose[13], pose[14]};
    s.progress = robot_.Progress(t);
    s.moving = s.progress < 1;
    s.poses = robot_.Poses();
    s.moveStart = robot_.MoveStart();
    s.moveEnd = robot_.MoveEnd();
    s.refused = refused_;
    s.refusedReason = refusedReason_;
    return s;
}

void SimBoard::SetObserver(std::function<void(const Command&)> observer) {
    std::lock_guard g(listenerLock_);
    observer_ = std::move(observer);
}

void SimBoard::SetListener(std::function<void()> listener) {
    std::lock_guard g(listenerLock_);
    listener_ = std::move(listener);
}

} // namespace sim

namespace {

using sim::Clock;

class SerialSimulated final : public SerialBackend {
public:
    explicit SerialSimulated(std::shared_ptr<sim::SimBoard> board)
        : board_(std::move(board)), splitter_(sim::kIdleGap) {}

    void Open(const std::string&) override {
        std::lock_guard g(lock_);
        open_ = true;
    }

    void Close() override {
        std::lock_guard g(lock_);
        open_ = false;
        onLine_.clear();
        replies_.clear();
        rx_.clear();
        errors_ = 0;
        errorSignal_ = false;
        changed_.notify_all();
    }

    bool IsOpen() const override { return open_; }

    // The simulated line runs at 57,600 bit/s whatever rate is chosen.
    void ApplySettings(const LineSettings&) override {}

    void SetupQueues(uint32_t readSize, uint32_t) override {
        std::lock_guard g(lock_);
        rxCapacity_ = readSize > 0 ? readSize : 1;
    }

    void SetTimeouts() override {}

    void SetEventMask(uint32_t mask) override {
        std::lock_guard g(lock_);
        mask_ = mask;
    }

    uint32_t WaitEvent() override {
        std::unique_lock lock(lock_);
        for (;;) {
            if (stopWait_)
                return 0;
            const auto now = Clock::now();
            FeedBoardLocked(now);
            uint32_t events = DeliverLocked(now) > 0 ? comm_event::RxChar : 0;
            if (errorSignal_) {
                errorSignal_ = false;
                events |= comm_event::Err;
            }
            events &= mask_;
            if (events != 0)
                return events;
            // Next: a command that ends by the idle gap, or a reply across.
            std::optional<Clock::time_point> wake = splitter_.Deadline();
            if (!replies_.empty() && (!wake || replies_.front().due < *wake))
                wake = replies_.front().due;
            if (wake)
                changed_.wait_until(lock, *wake);
            else
                changed_.wait(lock);
        }
    }

    void StopWait() override {
        std::lock_guard g(lock_);
        stopWait_ = true;
        changed_.notify_all();
    }

    std::size_t BytesWaiting() override {
        std::lock_guard g(lock_);
        const auto now = Clock::now();
        FeedBoardLocked(now);
        DeliverLocked(now);
        return rx_.size();
    }

    uint32_t TakeErrors() override {
        std::lock_guard g(lock_);
        const uint32_t e = errors_;
        errors_ = 0;
        return e;
    }

    std::string Read(std::size_t count, int) override {
        std::lock_guard g(lock_);
        count = std::min(count, rx_.size());
        std::string out = rx_.substr(0, count);
        rx_.erase(0, count);
        return out;
    }

    // Returns once the last byte is across, as a write to a real line does.
    WriteResult Write(const char* data, std::size_t size, std::size_t& written) override {
        written = 0;
        std::unique_lock lock(lock_);
        if (cancelWrite_)
            return WriteResult::Cancelled;
        if (!open_)
            return WriteResult::Refused;
        Clock::time_point at = std::max(Clock::now(), lineFree_);
        for (std::size_t i = 0; i < size; ++i) {
            at += sim::kByteTime;
            onLine_.push_back({at, data[i]});
        }
        lineFree_ = at;
        while (!cancelWrite_ && Clock::now() < at)
            changed_.wait_until(lock, at);
        if (cancelWrite_)
            return WriteResult::Cancelled;
        FeedBoardLocked(Clock::now());
        changed_.notify_all(); // the event thread's next deadline may have changed
        written = size;
        return WriteResult::Done;
    }

    void CancelWrite() override {
        std::lock_guard g(lock_);
        cancelWrite_ = true;
        changed_.notify_all();
    }

private:
    struct OnLine {
        Clock::time_point at; // when the byte is across
        char byte;
    };
    struct Reply {
        Clock::time_point due; // when its last byte is across
        std::string bytes;
    };

    // Bytes across by now reach the board; commands they end are handled at
    // the moment the board could tell they had ended.
    void FeedBoardLocked(Clock::time_point now) {
        while (!onLine_.empty() && onLine_.front().at <= now) {
            const OnLine b = onLine_.front();
            onLine_.pop_front();
            for (const sim::Command& c : splitter_.Feed(std::string_view(&b.byte, 1), b.at))
                HandleLocked(c, std::min(b.at, c.arrived + sim::kIdleGap));
        }
        if (auto c = splitter_.Poll(now))
            HandleLocked(*c, c->arrived + sim::kIdleGap);
    }

    void HandleLocked(const sim::Command& command, Clock::time_point known) {
        const auto reply = board_->Handle(command);
        if (!reply || reply->empty())
            return;
        // Replies queue behind each other on the way back.
        const Clock::time_point start = std::max(known, replyLineFree_);
        const Clock::time_point due = start + sim::kByteTime * static_cast<int64_t>(reply->size());
        replyLineFree_ = due;
        replies_.push_back({due, *reply});
        changed_.notify_all();
    }

    // Replies across by now go into the receive buffer; returns the count added.
    std::size_t DeliverLocked(Clock::time_point now) {
        std::size_t added = 0;
        while (!replies_.empty() && replies_.front().due <= now) {
            const std::string bytes = std::move(replies_.front().bytes);
            replies_.pop_front();
            const std::size_t room = rxCapacity_ - std::min(rxCapacity_, rx_.size());
            if (bytes.size() > room) {
                errors_ |= line_error::RxOver;
                errorSignal_ = true;
            }
            const std::size_t n = std::min(room, bytes.size());
            rx_.append(bytes, 0, n);
            added += n;
        }
        return added;
    }

    const std::shared_ptr<sim::SimBoard> board_;
    std::atomic<bool> open_{false};

    std::mutex lock_; // everything below
    std::condition_variable changed_;
    bool stopWait_ = false;
    bool cancelWrite_ = false;
    uint32_t mask_ = 0;
    sim::CommandSplitter splitter_;
    std::deque<OnLine> onLine_;
    Clock::time_point lineFree_{};
    std::deque<Reply> replies_;
    Clock::time_point replyLineFree_{};
    std::string rx_;
    std::size_t rxCapacity_ = 4096;
    uint32_t errors_ = 0;
    bool errorSignal_ = false;
};

} // namespace

std::unique_ptr<SerialBackend> CreateSimulatedBackend(std::shared_ptr<sim::SimBoard> board) {
    return std::make_unique<SerialSimulated>(std::move(board));
}

} // namespace kobito
