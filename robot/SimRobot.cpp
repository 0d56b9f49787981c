#include "SimRobot.h"

#include "PoseCommand.h"

#include <cstdint>
#include <cstdio>

namespace kobito::sim {

std::vector<Command> CommandSplitter::Feed(std::string_view bytes, Clock::time_point now) {
    std::vector<Command> done;
    if (!current_.empty() && now - last_ >= idleGap_) {
        done.push_back({std::move(current_), last_});
        current_.clear();
    }
    // The command in progress got its last byte before these came.
    bool fedNow = false;
    for (char c : bytes) {
        if (c == '#' && !current_.empty()) {
            done.push_back({std::move(current_), fedNow ? now : last_});
            current_.clear();
        }
        current_ += c;
        fedNow = true;
    }
    if (fedNow)
        last_ = now;
    return done;
}

std::optional<Command> CommandSplitter::Poll(Clock::time_point now) {
    if (current_.empty() || now - last_ < idleGap_)
        return std::nullopt;
    Command done{std::move(current_), last_};
    current_.clear();
    return done;
}

std::optional<Clock::time_point> CommandSplitter::Deadline() const {
    if (current_.empty())
        return std::nullopt;
    return last_ + idleGap_;
}

namespace {

// A value text: what FormatValue3 makes of some 32-bit integer, nothing else.
bool ParseValue(std::string_view text, std::size_t& pos, int32_t& value) {
    std::size_t i = pos;
    const bool negative = i < text.size() && text[i] == '-';
    if (negative)
        ++i;
    int64_t v = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 11) {
        v = v * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits < 3)
        return false;
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    if (FormatValue3(static_cast<int32_t>(v)) != text.substr(pos, i - pos))
        return false; // extra leading zeros, "-000" and the like
    value = static_cast<int32_t>(v);
    pos = i;
    return true;
}

} // namespace

bool ParsePose(std::string_view text, std::array<int32_t, 16>& values, std::string& error) {
    std::array<int32_t, 16> parsed{};
    if (text.substr(0, 2) != "#P") {
        error = "does not begin with #P";
        return false;
    }
    std::size_t pos = 2;
    auto expect = [&](std::string_view field) {
        if (text.substr(pos, field.size()) != field)
            return false;
        pos += field.size();
        return true;
    };
    for (int i = 0; i < 16; ++i) {
        char field[8];
        if (i < 12)
            std::snprintf(field, sizeof field, "S%02dA", i);
        else
            std::snprintf(field, sizeof field, "%c", "RGBT"[i - 12]);
        if (!expect(field)) {
            error = "expected " + std::string(field) + " at offset " + std::to_string(pos);
            return false;
        }
        if (!ParseValue(text, pos, parsed[static_cast<std::size_t>(i)])) {
            error = "bad value after " + std::string(field) + " at offset " + std::to_string(pos);
            return false;
        }
    }
    if (pos != text.size()) {
        error = "unexpected text at offset " + std::to_string(pos);
        return false;
    }
    values = parsed;
    return true;
}

SimRobot::SimRobot(std::chrono::milliseconds timeUnit) : timeUnit_(timeUnit) {
    from_.fill(90);
    to_.fill(90);
}

double SimRobot::Progress(Clock::time_point t) const {
    if (t >= moveEnd_ || moveEnd_ <= moveStart_)
        return 1;
    if (t <= moveStart_)
        return 0;
    return std::chrono::duration<double>(t - moveStart_) /
           std::chrono::duration<double>(moveEnd_ - moveStart_);
}

double SimRobot::Angle(int servo, Clock::time_point t) const {
    if (servo < 0 || servo >= kSimServos)
        return 0;
    const auto k = static_cast<std::size_t>(servo);
    return from_[k] + (to_[k] - from_[k]) * Progress(t);
}

SimRobot::Result SimRobot::Handle(const std::string& command, Clock::time_point now) {
    Result r;
    if (command.rfind("#P", 0) == 0) {
        std::string error;
        if (!ParsePose(command, pose_, error)) {
            r.reason = error;
            r.diagnostic = "malformed pose command: " + error + ": " + Escape(command);
            return r;
        }
        ++poses_;
        // A new pose takes over mid-move from wherever the servos are.
        for (int k = 0; k < kSimServos; ++k) {
            const auto i = static_cast<std::size_t>(k);
            from_[i] = Angle(k, now);
            to_[i] = pose_[i];
        }
        const int32_t time = pose_[15] > 0 ? pose_[15] : 0;
        moveStart_ = now;
        moveEnd_ = now + time * timeUnit_;
        return r;
    }
    if (command == "#Q") {
        int64_t units = 0;
        if (now < moveEnd_) {
            const auto left = moveEnd_ - now;
            units = (left + timeUnit_ - Clock::duration(1)) / timeUnit_; // rounded up
        }
        r.reply = "#QPT" + FormatValue3(static_cast<int32_t>(units));
        return r;
    }
    // Stored motions and the centre command: taken, not played.
    if ((command.size() == 3 && command.rfind("#M", 0) == 0 && command[2] >= '0' &&
         command[2] <= '9') ||
        command == "#C")
        return r;
    r.reason = "unknown command";
    r.diagnostic = r.reason + ": " + Escape(command);
    return r;
}

std::string Escape(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

} // namespace kobito::sim
