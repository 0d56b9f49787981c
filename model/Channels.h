#pragma once
// The sixteen channels of a pose and the constant data attached to each.
// Every registry, table column, file field and command field uses this order.

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace kobito {

enum ChannelIndex : int {
    HDY = 0, WTY, RSR, RSP, RHG, LSR, LSP, LHG, RFY, RFP, LFY, LFP, RED, GRN, BLU, TIM
};

inline constexpr int ChannelCount = 16;
inline constexpr int ServoCount = 12;

enum class ChannelKind { Servo, EyeRed, EyeGreen, EyeBlue, Time };

inline constexpr std::array<std::string_view, ChannelCount> ChannelNames = {
    "HDY", "WTY", "RSR", "RSP", "RHG", "LSR", "LSP", "LHG",
    "RFY", "RFP", "LFY", "LFP", "RED", "GRN", "BLU", "TIM"};

inline constexpr std::array<int, ServoCount> StopPose = {90, 90, 0,  130, 90, 180,
                                                         50, 90, 90, 90,  90, 90};

inline constexpr std::array<int, ServoCount> PictureBaseAngles = {180, 180, 90, 225, 0, 270,
                                                                  135, 0,   0,  0,   0, 0};

// +1 for the six servos whose slider is drawn rotated (minimum at the right).
inline constexpr std::array<int, ServoCount> PictureDirections = {-1, -1, -1, -1, +1, -1,
                                                                  -1, +1, +1, +1, +1, +1};

// Group captions (UTF-8), shown exactly as written here, spelling included.
inline constexpr std::array<std::string_view, ChannelCount> ChannelCaptions = {
    "HDY  頭( Head ) #00",      "WTY  腰( Waist ) #01",   "RSR  肩( Shouder ) #02",
    "RSP  腕( Arm ) #03",       "RHG  手( Hand ) #04",    "LSR  肩( Shoulder ) #05",
    "LSP  LSP 腕( Arm ) #06",   "LHG  手( Hand ) #07",    "RFY  脚( Leg ) #08",
    "RFP  足( Foot ) #09",      "LFY  脚( Leg ) #10",     "LFP  足( Foot ) #11",
    "RED  赤( Red )",           "GRN  緑( Green )",       "BLU  青( Blue )",
    "TIM  時間( Time )"};

inline constexpr ChannelKind KindOf(int k) {
    switch (k) {
    case RED: return ChannelKind::EyeRed;
    case GRN: return ChannelKind::EyeGreen;
    case BLU: return ChannelKind::EyeBlue;
    case TIM: return ChannelKind::Time;
    default: return ChannelKind::Servo;
    }
}

inline constexpr bool IsServo(int k) { return k >= 0 && k < ServoCount; }

// Full range of a channel before the range grid narrows a servo.
inline constexpr int ChannelMin(int) { return 0; }
inline constexpr int ChannelMax(int k) { return IsServo(k) ? 180 : 255; }

// Value of each channel right after start-up: the stop pose, the blue eyes, time 10.
inline constexpr std::array<int, ChannelCount> StartupValues = {
    90, 90, 0, 130, 90, 180, 50, 90, 90, 90, 90, 90, 0, 0, 255, 10};

// Servos whose slider shows its minimum at the right.
inline constexpr bool IsRotated(int k) { return IsServo(k) && PictureDirections[k] > 0; }

// The channel whose value a channel takes when a pose is mirrored left to right.
inline constexpr std::array<int, ChannelCount> MirrorSource = {
    HDY, WTY, LSR, LSP, LHG, RSR, RSP, RHG, LFY, LFP, RFY, RFP, RED, GRN, BLU, TIM};

// A pose mirrored left to right: the right and left servos swap and every servo angle v becomes
// 180 - v; eyes and time stay.
inline constexpr std::array<int, ChannelCount>
MirrorPose(const std::array<int, ChannelCount>& pose) {
    std::array<int, ChannelCount> mirrored{};
    for (int k = 0; k < ChannelCount; ++k) {
        const int v = pose[std::size_t(MirrorSource[std::size_t(k)])];
        // A cell may hold any 32-bit value; only 180 - INT_MIN leaves the range.
        mirrored[std::size_t(k)] =
            IsServo(k) ? int(std::min<long long>(180LL - v, std::numeric_limits<int>::max())) : v;
    }
    return mirrored;
}

// The stop pose is its own mirror image.
static_assert(MirrorPose(StartupValues) == StartupValues);

} // namespace kobito
