#include "SimRecord.h"

#include <chrono>
#include <fstream>

namespace kobito::test {

std::vector<SimEvent> ReadSimRecord(const std::string& path) {
    std::vector<SimEvent> events;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    // A line still being written has no line end yet; getline gives it at
    // the end of the file, so only lines followed by more are certain.
    while (std::getline(in, line)) {
        if (in.eof())
            break;
        const std::size_t a = line.find(' ');
        const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos)
            continue;
        SimEvent e;
        try {
            e.ns = std::stoll(line.substr(0, a));
        } catch (const std::exception&) {
            continue;
        }
        e.rx = line.compare(a + 1, b - a - 1, "RX") == 0;
        e.text = line.substr(b + 1);
        events.push_back(std::move(e));
    }
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
