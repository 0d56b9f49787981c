#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kobito::sim {

using Clock = std::chrono::steady_clock;

// A command cut from the stream, with the time its last byte came: the
// moment it was on the line, whatever it took to know it had ended.
struct Command {
    std::string text;
    Clock::time_point arrived;
    bool operator==(const Command&) const = default;
};

// Cuts the unterminated command stream into commands: one ends where the
// next '#' begins, or when no byte has come for the idle gap.
class CommandSplitter {
public:
    explicit CommandSplitter(std::chrono::milliseconds idleGap) : idleGap_(idleGap) {}

    // Commands completed by these bytes.
    std::vector<Command> Feed(std::string_view bytes, Clock::time_point now);
    // The command in progress, once the idle gap has passed.
    std::optional<Command> Poll(Clock::time_point now);
    // When Poll would complete the command in progress.
    std::optional<Clock::time_point> Deadline() const;

private:
    std::chrono::milliseconds idleGap_;
    std::string current_;
    Clock::time_point last_{};
};

// Parses a pose command in exactly the form the program builds it; on
// failure error says why.
bool ParsePose(std::string_view text, std::array<int32_t, 16>& values, std::string& error);

inline constexpr int kSimServos = 12;

// The controller board: takes commands, answers the poll, and moves each
// servo linearly from where it is to its commanded angle over the move time.
class SimRobot {
public:
    explicit SimRobot(std::chrono::milliseconds timeUnit);

    struct Result {
        std::optional<std::string> reply; // to send back
        std::string reason;               // why the command was refused, short; empty when taken
        std::string diagnostic;           // what and why, with the command, for standard error
    };
    Result Handle(const std::string& command, Clock::time_point now);

    // The last pose commanded (all 0 before the first).
    const std::array<int32_t, 16>& Pose() const { return pose_; }
    int Poses() const { return poses_; }

    // Where servo k stands at time t, in degrees; before the first pose every
    // servo stands at its centre, 90.
    double Angle(int servo, Clock::time_point t) const;
    // The part of the current move done at t, 0..1; 1 when nothing moves.
    double Progress(Clock::time_point t) const;
    Clock::time_point MoveStart() const { return moveStart_; }
    Clock::time_point MoveEnd() const { return moveEnd_; }

private:
    std::chrono::milliseconds timeUnit_;
    std::array<int32_t, 16> pose_{};
    int poses_ = 0;
    std::array<double, kSimServos> from_{};
    std::array<double, kSimServos> to_{};
    Clock::time_point moveStart_{};
    Clock::time_point moveEnd_{};
};

// Printable form of command bytes for one line of the record.
std::string Escape(std::string_view bytes);

} // namespace kobito::sim
