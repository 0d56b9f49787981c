#pragma once
// The robot in the box: a controller board that lives in the program, and
// the serial back end that talks to it over a simulated line, so that the
// whole program runs unchanged without a robot.

#include "SimRobot.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kobito {

class SerialBackend;

// The device name that opens the simulated port instead of a device.
inline constexpr char kSimulatorDeviceName[] = "KOBITO Simulator";

namespace sim {

inline constexpr std::chrono::milliseconds kTimeUnit{10};
inline constexpr std::chrono::milliseconds kIdleGap{20};
// One byte on the line at 57,600 bit/s: start bit, eight data bits, stop bit.
inline constexpr std::chrono::nanoseconds kByteTime{10LL * 1'000'000'000 / 57'600};

// The board behind the simulated port. The port feeds it from its worker
// threads while the window watches it, so every call takes its lock.
class SimBoard {
public:
    explicit SimBoard(std::chrono::milliseconds timeUnit = kTimeUnit);

    // A command as it came off the line; the reply to send back, if any.
    std::optional<std::string> Handle(const Command& command);

    struct State {
        std::array<double, kSimServos> angles{};
        std::array<int32_t, 3> eyes{}; // red, green, blue as commanded
        double progress = 1;           // of the current move, 0..1
        bool moving = false;
        int poses = 0;
        Clock::time_point moveStart{};
        Clock::time_point moveEnd{};
        // The last command the board refused (escaped) and why; empty if none.
        std::string refused;
        std::string refusedReason;
    };
    State At(Clock::time_point t) const;

    // Called after each command the board has taken, on the thread that
    // handed it over; set and cleared from any thread.
    void SetListener(std::function<void()> listener);
    // Called with each command once the board has taken it, before the
    // listener, on the thread that handed it over; for whoever keeps a record.
    void SetObserver(std::function<void(const Command&)> observer);

private:
    mutable std::mutex lock_;
    SimRobot robot_;
    std::string refused_;
    std::string refusedReason_;
    std::mutex listenerLock_;
    std::function<void()> listener_;
    std::function<void(const Command&)> observer_;
};

} // namespace sim

// The simulated port: opens no device; what is written crosses the line to
// the board byte by byte at the line's speed, and its replies come back the
// same way, whole once their last byte is across.
std::unique_ptr<SerialBackend> CreateSimulatedBackend(std::shared_ptr<sim::SimBoard> board);

} // namespace kobito
