#include "SimRecord.h"

#include <chrono>
#include <fstream>

namespace kobito::test {

namespace {

bool ParseLine(const std::string& line, SimEvent& e) {
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos)
        return false;
    try {
        e.ns = std::stoll(line.substr(0, a));
    } catch (const std::exception&) {
        return false;
    }
    e.rx = line.compare(a + 1, b - a - 1, "RX") == 0;
    e.text = line.substr(b + 1);
    return true;
}

} // namespace

std::vector<SimEvent> ReadSimRecord(const std::string& path) {
    SimRecordFollower follower(path);
    return follower.ReadNew();
}

std::vector<SimEvent> SimRecordFollower::ReadNew() {
    std::vector<SimEvent> events;
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return events;
    in.seekg(static_cast<std::streamoff>(offset_));
    char buffer[65536];
    for (;;) {
        in.read(buffer, sizeof buffer);
        const std::streamsize n = in.gcount();
        if (n <= 0)
            break;
        offset_ += static_cast<std::uint64_t>(n);
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    // A line still being written has no line end yet: it waits for the next call.
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        SimEvent e;
        if (ParseLine(pending_.substr(start, end - start), e))
            events.push_back(std::move(e));
    }
    pending_.erase(0, start);
    return events;
}

std::vector<SimEvent> ReceivedCommands(const std::vector<SimEvent>& record) {
    std::vector<SimEvent> out;
    for (const SimEvent& e : record)
        if (e.rx)
            out.push_back(e);
    return out;
}

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace kobito::test
