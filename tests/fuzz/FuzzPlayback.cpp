// The playback sequencer driven by arbitrary timer steps, restarts and
// replies of any byte count and text, against an in-memory window that
// checks every call: rows go out in table order and only after the robot
// answered a poll sent after the previous row with its finished reply, and
// the list end reaches Scratch once.
//
// Input: 13 bytes whose first 100 bits mark the rows with a move time of 0,
// then operations of one byte each, a reply followed by its 4-byte count
// (little-endian), a length byte and that many bytes of text.
#include "FuzzCheck.h"

#include "Playback.h"
#include "PoseCommand.h"

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace kobito;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::int32_t Int32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(Byte()) << (8 * i);
        return std::int32_t(v);
    }
    std::string Text(std::size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        std::string out(reinterpret_cast<const char*>(data_) + at_, n);
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Calls {
    std::vector<std::array<std::int32_t, 16>> poses;
    std::vector<std::string> commands;
    std::vector<int> selected;
    std::vector<std::string> logged;
    int reads = 0;
    int listEnds = 0;
};

class MemoryHost final : public PlaybackHost {
public:
    std::array<bool, MotionRows> noTime{};
    std::string port; // bytes waiting on the serial port
    bool scratch = false;
    Calls calls;

    static std::int32_t Value(int row, int column) {
        // Extremes too: the sequencer passes values through untouched.
        switch ((row + column) % 5) {
        case 0:
            return INT32_MIN;
        case 1:
            return INT32_MAX;
        default:
            return row * 100 + column - 800;
        }
    }
    std::int32_t Expected(int row, int column) const {
        if (column == TimeColumn)
            return noTime[std::size_t(row)] ? 0 : row + 1;
        return Value(row, column);
    }

    std::int32_t Cell(int row, int column) override {
        FUZZ_CHECK(row >= 0 && row < MotionRows);
        FUZZ_CHECK(column >= 1 && column <= TimeColumn);
        return Expected(row, column);
    }
    void SendPose(const std::array<std::int32_t, 16>& values) override {
        calls.poses.push_back(values);
        const std::string command = BuildPoseCommand(values);
        FUZZ_CHECK(command.starts_with("#PS00A"));
    }
    void SendCommand(const std::string& text) override { calls.commands.push_back(text); }
    void SelectRow(int row) override { calls.selected.push_back(row); }
    std::string ReadText() override {
        ++calls.reads;
        std::string out;
        out.swap(port);
        return out;
    }
    void LogReceived(const std::string& text) override { calls.logged.push_back(text); }
    bool ScratchConnected() override { return scratch; }
    void NotifyListEnd() override { ++calls.listEnds; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    MemoryHost host;
    for (int r = 0; r < MotionRows; r += 8) {
        const std::uint8_t bits = in.Byte();
        for (int b = 0; b < 8 && r + b < MotionRows; ++b)
            host.noTime[std::size_t(r + b)] = (bits >> b & 1) != 0;
    }

    TPlaybackSequencer seq;
    seq.Restart();
    int expectedRow = 0;
    // Only a poll sent after the last row can be answered by its finish.
    bool polledSinceRow = false;
    while (!in.Empty()) {
        const TPlaybackSequencer before = seq;
        host.calls = {};
        const std::uint8_t op = in.Byte() % 6;
        switch (op) {
        case 0: {
            seq.Tick(host);
            if (!before.MotionDone || before.ListEndNotified) {
                FUZZ_CHECK(host.calls.commands == std::vector<std::string>{"#Q"});
                FUZZ_CHECK(host.calls.poses.empty() && host.calls.selected.empty());
                FUZZ_CHECK(seq.NextMotion == before.NextMotion);
                FUZZ_CHECK(seq.MotionDone == before.MotionDone);
                polledSinceRow = true;
                break;
            }
            FUZZ_CHECK(host.calls.commands.empty());
            FUZZ_CHECK(host.calls.poses.size() == 1);
            FUZZ_CHECK(host.calls.selected == std::vector<int>{expectedRow});
            for (int c = 0; c < 16; ++c)
                FUZZ_CHECK(host.calls.poses[0][std::size_t(c)] ==
                           host.Expected(expectedRow, c + 1));
            FUZZ_CHECK(!seq.MotionDone);
            // The row after, or row 0 past the table or before a row without a move time.
            int next = expectedRow + 1;
            if (next >= MotionRows || host.noTime[std::size_t(next)])
                next = 0;
            expectedRow = next;
            FUZZ_CHECK(seq.NextMotion == expectedRow);
            polledSinceRow = false;
            break;
        }
        case 1:
        case 2: {
            // A reply: op 2 is the finished reply with its real count.
            const std::int32_t count = op == 2 ? 7 : in.Int32();
            const std::string text = op == 2 ? std::string(FinishedReply) : in.Text(in.Byte());
            host.port += text;
            const std::string waiting = host.port;
            seq.Received(count, host);
            FUZZ_CHECK(host.calls.logged.size() == 1);
            FUZZ_CHECK(host.calls.poses.empty() && host.calls.commands.empty());
            FUZZ_CHECK(seq.NextMotion == before.NextMotion);
            if (count < 7) {
                FUZZ_CHECK(host.calls.reads == 0);
                FUZZ_CHECK(host.calls.logged[0] == "(" + std::to_string(count) + ")");
                FUZZ_CHECK(seq.MotionDone == before.MotionDone);
                FUZZ_CHECK(host.calls.listEnds == 0);
                break;
            }
            FUZZ_CHECK(host.calls.reads == 1 && host.port.empty());
            FUZZ_CHECK(host.calls.logged[0] == waiting);
            const bool finished = waiting == FinishedReply && polledSinceRow;
            FUZZ_CHECK(seq.MotionDone == (before.MotionDone || finished));
            const bool notify =
                finished && host.scratch && before.NextMotion == 0 && !before.ListEndNotified;
            FUZZ_CHECK(host.calls.listEnds == (notify ? 1 : 0));
            FUZZ_CHECK(seq.ListEndNotified == (before.ListEndNotified || notify));
            break;
        }
        case 3:
            seq.Restart();
            expectedRow = 0;
            polledSinceRow = false;
            FUZZ_CHECK(seq.MotionDone && seq.NextMotion == 0);
            break;
        case 4:
            host.scratch = !host.scratch;
            break;
        case 5:
            // The window clears it when Scratch starts a slot or reconnects.
            seq.ListEndNotified = false;
            break;
        }
        FUZZ_CHECK(seq.NextMotion >= 0 && seq.NextMotion < MotionRows);
    }
    return 0;
}
