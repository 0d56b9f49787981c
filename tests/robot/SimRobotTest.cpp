// The simulator's logic, without a terminal.
#include "SimRobot.h"
#include "PoseCommand.h"

#include <gtest/gtest.h>

namespace kobito::sim {
namespace {

using namespace std::chrono_literals;

const std::string kExample = "#PS00A090S01A090S02A000S03A130S04A090S05A180S06A050S07A090"
                             "S08A090S09A090S10A090S11A090R000G000B255T010";

TEST(CommandSplitter, EndsACommandAtTheNextHashOrAfterTheIdleGap) {
    CommandSplitter s{20ms};
    const Clock::time_point t0{};
    // Each command carries the time its last byte came, not when it was known to end.
    EXPECT_TRUE(s.Feed("#PS00", t0).empty());
    EXPECT_TRUE(s.Feed("A090", t0 + 5ms).empty()); // pieces of one command
    EXPECT_EQ(s.Feed("#Q#", t0 + 10ms),
              (std::vector<Command>{{"#PS00A090", t0 + 5ms}, {"#Q", t0 + 10ms}}));
    EXPECT_EQ(s.Deadline(), t0 + 30ms);
    EXPECT_FALSE(s.Poll(t0 + 29ms));
    EXPECT_EQ(s.Poll(t0 + 30ms), (Command{"#", t0 + 10ms}));
    EXPECT_FALSE(s.Deadline());
    // Bytes after the idle gap begin a new command.
    EXPECT_TRUE(s.Feed("#Q", t0 + 40ms).empty());
    EXPECT_EQ(s.Feed("#Q", t0 + 100ms), (std::vector<Command>{{"#Q", t0 + 40ms}}));
    EXPECT_EQ(s.Feed("#C", t0 + 130ms), (std::vector<Command>{{"#Q", t0 + 100ms}}));
}

TEST(ParsePose, TakesExactlyTheProgramsFormat) {
    std::array<int32_t, 16> values{};
    std::string error;
    ASSERT_TRUE(ParsePose(kExample, values, error)) << error;
    EXPECT_EQ(values, (std::array<int32_t, 16>{90, 90, 0, 130, 90, 180, 50, 90, 90, 90, 90, 90, 0,
                                               0, 255, 10}));
    const std::array<int32_t, 16> odd{-5, 1000, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1000, 0, 0, 0, 99999};
    ASSERT_TRUE(ParsePose(BuildPoseCommand(odd), values, error)) << error;
    EXPECT_EQ(values, odd);
}

TEST(ParsePose, RejectsEverythingElse) {
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string bad[] = {
        "",
        "#Q",
        "#P",
        kExample.substr(0, 101),                   // cut short
        kExample + "0",                            // trailing digit: four-digit T "0100"
        kExample + "X",                            // trailing text
        replace(kExample, "S00A090", "S00A90"),    // two digits
        replace(kExample, "S00A090", "S00A0090"),  // needless zero
        replace(kExample, "S00A090", "S00A-000"),  // minus zero
        replace(kExample, "S05A180", "S5A180"),    // servo number
        replace(kExample, "S03A130", "S04A130"),   // servo out of order
        replace(kExample, "R000G000", "G000R000"), // eye order
        replace(kExample, "B255", "B2X5"),         // not a digit
        replace(kExample, "T010", "T99999999999"), // beyond 32 bits
    };
    for (const auto& text : bad) {
        std::array<int32_t, 16> values{};
        std::string error;
        EXPECT_FALSE(ParsePose(text, values, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(SimRobot, AnswersThePollWithTheUnitsStillToGo) {
    SimRobot robot{10ms};
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(robot.Handle("#Q", t0).reply, "#QPT000"); // nothing moving yet
    const auto pose = robot.Handle(kExample, t0);       // T 10: 100 ms
    EXPECT_FALSE(pose.reply);
    EXPECT_TRUE(pose.diagnostic.empty());
    EXPECT_EQ(robot.Poses(), 1);
    EXPECT_EQ(robot.Handle("#Q", t0).reply, "#QPT010");
    EXPECT_EQ(robot.Handle("#Q", t0 + 1ms).reply, "#QPT010"); // rounded up
    EXPECT_EQ(robot.Handle("#Q", t0 + 95ms).reply, "#QPT001");
    EXPECT_EQ(robot.Handle("#Q", t0 + 100ms).reply, "#QPT000");
}

TEST(SimRobot, MovesEachServoLinearlyOverTheMoveTime) {
    SimRobot robot{10ms};
    const Clock::time_point t0{};
    EXPECT_DOUBLE_EQ(robot.Angle(0, t0), 90); // centred before the first pose
    EXPECT_DOUBLE_EQ(robot.Progress(t0), 1);

    std::array<int32_t, 16> pose{};
    pose.fill(0);
    pose[0] = 180;
    pose[15] = 100; // 1 s
    robot.Handle(BuildPoseCommand(pose), t0);
    struct Case {
        std::chrono::milliseconds at;
        double hdy, wty, progress;
    };
    for (const Case& c :
         {Case{0ms, 90, 90, 0}, Case{250ms, 112.5, 67.5, 0.25}, Case{500ms, 135, 45, 0.5},
          Case{1000ms, 180, 0, 1}, Case{5000ms, 180, 0, 1}}) {
        EXPECT_NEAR(robot.Angle(0, t0 + c.at), c.hdy, 1e-9) << c.at.count();
        EXPECT_NEAR(robot.Angle(1, t0 + c.at), c.wty, 1e-9) << c.at.count();
        EXPECT_NEAR(robot.Progress(t0 + c.at), c.progress, 1e-9) << c.at.count();
    }

    // A pose that comes mid-move starts from where the servos are.
    pose[0] = 0;
    pose[15] = 10; // 100 ms
    robot.Handle(BuildPoseCommand(pose), t0 + 500ms);
    EXPECT_DOUBLE_EQ(robot.Angle(0, t0 + 500ms), 135);
    EXPECT_NEAR(robot.Angle(0, t0 + 550ms), 67.5, 1e-9);
    EXPECT_DOUBLE_EQ(robot.Angle(0, t0 + 600ms), 0);

    // No move time, or a negative one: there at once.
    pose[0] = 60;
    pose[15] = -5;
    robot.Handle(BuildPoseCommand(pose), t0 + 700ms);
    EXPECT_DOUBLE_EQ(robot.Angle(0, t0 + 700ms), 60);
    EXPECT_DOUBLE_EQ(robot.Progress(t0 + 700ms), 1);
}

TEST(SimRobot, ReportsMalformedAndUnknownCommands) {
    SimRobot robot{10ms};
    const auto now = Clock::now();
    const auto malformed = robot.Handle("#PS00A90", now);
    EXPECT_FALSE(malformed.reply);
    EXPECT_NE(malformed.diagnostic.find("malformed pose command"), std::string::npos);
    // The reason alone, short enough for the simulator view's status line.
    EXPECT_EQ(malformed.reason, "bad value after S00A at offset 6");
    EXPECT_EQ(robot.Handle("#Z", now).reason, "unknown command");
    EXPECT_EQ(robot.Poses(), 0);
    EXPECT_NE(robot.Handle("#Z", now).diagnostic.find("unknown command"), std::string::npos);
    EXPECT_NE(robot.Handle("#Qx", now).diagnostic.find("unknown command"), std::string::npos);
    for (const char* quiet : {"#M0", "#M9", "#C"}) {
        const auto r = robot.Handle(quiet, now);
        EXPECT_FALSE(r.reply) << quiet;
        EXPECT_TRUE(r.diagnostic.empty()) << quiet;
        EXPECT_TRUE(r.reason.empty()) << quiet;
    }
}

TEST(Escape, KeepsARecordLineOnOneLine) {
    EXPECT_EQ(Escape("#Q"), "#Q");
    EXPECT_EQ(Escape(std::string("a\r\n\\\0", 5)), "a\\x0D\\x0A\\x5C\\x00");
}

} // namespace
} // namespace kobito::sim
