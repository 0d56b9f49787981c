#include "Channels.h"

#include <gtest/gtest.h>

#include <limits>

namespace kobito {
namespace {

using Pose = std::array<int, ChannelCount>;

TEST(MirrorPose, SwapsTheSidesAndTurnsEveryServoAngle) {
    //                 HDY WTY RSR RSP RHG LSR LSP LHG RFY RFP LFY LFP RED GRN BLU TIM
    const Pose pose = {100, 80, 10, 20, 30, 170, 60, 70, 85, 95, 75, 105, 1, 2, 3, 40};
    const Pose mirrored = {80, 100, 10, 120, 110, 170, 160, 150, 105, 75, 95, 85, 1, 2, 3, 40};
    EXPECT_EQ(MirrorPose(pose), mirrored);
    EXPECT_EQ(MirrorPose(mirrored), pose);
}

TEST(MirrorPose, KeepsToThirtyTwoBits) {
    Pose pose{};
    pose[RSR] = std::numeric_limits<int>::min();
    pose[LSR] = std::numeric_limits<int>::max();
    const Pose mirrored = MirrorPose(pose);
    EXPECT_EQ(mirrored[LSR], std::numeric_limits<int>::max());
    EXPECT_EQ(mirrored[RSR], 180 - std::numeric_limits<int>::max());
}

} // namespace
} // namespace kobito
