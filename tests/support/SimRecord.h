#pragma once
// The simulator's record (--record FILE): one line per command received and
// per write made, "<ns> RX <command>" or "<ns> TX <bytes>".
#include <cstdint>
#include <string>
#include <vector>

namespace kobito::test {

struct SimEvent {
    int64_t ns = 0; // CLOCK_MONOTONIC; for a command, when its last byte came
    bool rx = false;
    std::string text; // as recorded: bytes outside printable ASCII as \xHH
};

// Every complete line of the record; none if it cannot be read.
std::vector<SimEvent> ReadSimRecord(const std::string& path);

// Follows a record while the simulator writes it: each call gives the lines
// completed since the last.
class SimRecordFollower {
public:
    explicit SimRecordFollower(std::string path) : path_(std::move(path)) {}
    std::vector<SimEvent> ReadNew();

private:
    std::string path_;
    std::uint64_t offset_ = 0;
    std::string pending_;
};

// The commands received, in order.
std::vector<SimEvent> ReceivedCommands(const std::vector<SimEvent>& record);

// steady_clock's now in the record's unit.
int64_t MonotonicNs();

} // namespace kobito::test
