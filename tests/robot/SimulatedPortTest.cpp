// The serial component on the simulated port "KOBITO Simulator": the same
// events, counts and queue as on a device, with the board at the other end.
// No device is involved, so these run on every platform (and under Wine).
#include "SimulatedPort.h"
#include "BoardRecord.h"
#include "PoseCommand.h"
#include "TestDispatcher.h"
#include "VaComm.h"

#include <gtest/gtest.h>

#include <thread>

namespace kobito {
namespace {

using namespace std::chrono_literals;
using sim::Clock;
using test::TestDispatcher;

// T 010: a move of 100 ms.
const std::string kPose = "#PS00A090S01A090S02A000S03A130S04A090S05A180S06A050S07A090"
                          "S08A090S09A090S10A090S11A090R000G000B255T010";

struct Event {
    std::string kind; // "open", "close", "rx", "error"
    int value = 0;    // Count or Errors
    std::string read; // what the rx handler read
    std::thread::id thread;
};

class SimulatedPort : public testing::Test {
protected:
    SimulatedPort() {
        comm.SetDeviceName(kSimulatorDeviceName);
        comm.SetBaudrate(br57600);
        comm.OnOpen = [this](TVaComponent*) { Record("open"); };
        comm.OnClose = [this](TVaComponent*) { Record("close"); };
        comm.OnRxChar = [this](TVaComponent*, int count) {
            Record("rx", count);
            events.back().read = comm.ReadText();
        };
        comm.OnError = [this](TVaComponent*, int errors) { Record("error", errors); };
    }

    void Record(const char* kind, int value = 0) {
        events.push_back({kind, value, {}, std::this_thread::get_id()});
    }
    int Count(const std::string& kind) const {
        int n = 0;
        for (const auto& e : events)
            n += e.kind == kind ? 1 : 0;
        return n;
    }
    bool RunUntilCount(const std::string& kind, int n, std::chrono::milliseconds timeout = 5s) {
        return dispatcher.RunUntil([&] { return Count(kind) >= n; }, timeout);
    }
    std::vector<std::string> Commands() {
        std::vector<std::string> out;
        for (const auto& c : record.Commands())
            out.push_back(c.text);
        return out;
    }

    TestDispatcher dispatcher;
    TVaComm comm{&dispatcher};
    test::BoardRecord record{comm.Simulator()};
    std::vector<Event> events;
    const std::thread::id mainThread = std::this_thread::get_id();
};

TEST_F(SimulatedPort, OpensWithoutADeviceAndClosesAsAPortDoes) {
    comm.Open();
    EXPECT_TRUE(comm.Active());
    EXPECT_THROW(comm.SetDeviceName("COM1"), EVaCommError);
    EXPECT_THROW(comm.Open(), EVaCommError);
    comm.SetBaudrate(br9600); // accepted, and the line keeps its speed
    const auto start = Clock::now();
    comm.Close();
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_FALSE(comm.Active());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "open");
    EXPECT_EQ(events[1].kind, "close");
    for (const auto& e : events)
        EXPECT_EQ(e.thread, mainThread);

    const auto again = Clock::now();
    comm.Close(); // closed already: nothing
    EXPECT_LT(Clock::now() - again, 300ms);
    EXPECT_EQ(events.size(), 2u);
    comm.Open();
    EXPECT_TRUE(comm.Active());
}

TEST_F(SimulatedPort, ThePollIsAnsweredThroughTheReceiveEvent) {
    comm.Open();
    EXPECT_EQ(comm.WriteText("#Q"), 2);
    ASSERT_TRUE(RunUntilCount("rx", 1));
    EXPECT_EQ(events.back().value, 7);
    EXPECT_EQ(events.back().read, "#QPT000");
    EXPECT_EQ(events.back().thread, mainThread);
    dispatcher.RunFor(100ms);
    EXPECT_EQ(Count("rx"), 1); // a byte received is reported once
    EXPECT_EQ(Commands(), std::vector<std::string>{"#Q"});
}

TEST_F(SimulatedPort, RepliesArrivingBeforeTheHandlerRunsComeInOneRead) {
    comm.Open();
    comm.WriteText("#Q");
    ASSERT_TRUE(dispatcher.WaitPosted(5s)); // the event thread waits for us now
    comm.WriteText("#Q");
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(RunUntilCount("rx", 1));
    EXPECT_EQ(events.back().value, 14);
    EXPECT_EQ(events.back().read, "#QPT000#QPT000");
    dispatcher.RunFor(100ms);
    EXPECT_EQ(Count("rx"), 1);
}

TEST_F(SimulatedPort, APoseTakesItsTimeOnTheLineAndItsMoveTime) {
    comm.Open();
    const auto sent = Clock::now();
    comm.WriteText(kPose);
    comm.WriteText("#Q");
    ASSERT_TRUE(RunUntilCount("rx", 1));
    // The poll came while the robot moved: units still to go, not finished.
    EXPECT_NE(events.back().read, "#QPT000");
    EXPECT_EQ(events.back().read.substr(0, 4), "#QPT");

    const auto taken = record.Commands();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].text, kPose);
    // 102 bytes of ten bits at 57,600 bit/s: about 17.7 ms on the line.
    EXPECT_GE(taken[0].arrived - sent, sim::kByteTime * 102);
    EXPECT_GE(taken[1].arrived - taken[0].arrived, sim::kByteTime * 2);

    const auto state = comm.Simulator()->At(taken[0].arrived + 100ms);
    EXPECT_FALSE(state.moving);
    EXPECT_EQ(state.poses, 1);
    EXPECT_DOUBLE_EQ(state.angles[3], 130);
    EXPECT_EQ(state.eyes, (std::array<int32_t, 3>{0, 0, 255}));

    std::this_thread::sleep_for(120ms);
    comm.WriteText("#Q");
    ASSERT_TRUE(RunUntilCount("rx", 2));
    EXPECT_EQ(events.back().read, "#QPT000");
}

TEST_F(SimulatedPort, QueueTakes2048BytesAtOnceAnd2049FailAfterTheWriteTimeout) {
    comm.Open();
    auto start = Clock::now();
    EXPECT_EQ(comm.WriteText(std::string(2048, 'a')), 2048);
    EXPECT_LT(Clock::now() - start, 500ms); // no waiting for room

    start = Clock::now();
    try {
        comm.WriteText(std::string(2049, 'z'));
        ADD_FAILURE() << "2049 bytes queued";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(comm.Active());
}

TEST_F(SimulatedPort, WriteTextOnAClosedPortReachesNothing) {
    EXPECT_EQ(comm.WriteText("#Q"), 0);
    comm.Open();
    comm.Close();
    EXPECT_EQ(comm.WriteText("#Q"), 0);
    EXPECT_EQ(comm.ReadText(), "");
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(SimulatedPort, CloseDeliversAnEventBeingHandedOver) {
    comm.Open();
    comm.WriteText("#Q");
    ASSERT_TRUE(dispatcher.WaitPosted(5s)); // handed over, not yet run
    comm.Close();                           // must neither hang nor lose it
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, "rx");
    EXPECT_EQ(events[1].read, "#QPT000");
    EXPECT_EQ(events[1].thread, mainThread);
    EXPECT_EQ(events[2].kind, "close");
    dispatcher.RunFor(50ms);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(SimulatedPort, TheRobotKeepsItsPoseWhenThePortIsOpenedAgain) {
    comm.Open();
    std::array<int32_t, 16> pose{};
    pose.fill(45);
    pose[15] = 0; // at once
    comm.WriteText(BuildPoseCommand(pose));
    for (int i = 0; i < 500 && comm.Simulator()->At(Clock::now()).poses == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(comm.Simulator()->At(Clock::now()).poses, 1);
    comm.Close();
    comm.Open();
    const auto state = comm.Simulator()->At(Clock::now());
    EXPECT_EQ(state.poses, 1);
    EXPECT_DOUBLE_EQ(state.angles[0], 45);
}

TEST_F(SimulatedPort, AnotherComponentHasABoardOfItsOwn) {
    TVaComm other{&dispatcher};
    other.SetDeviceName(kSimulatorDeviceName);
    test::BoardRecord otherRecord(other.Simulator());
    comm.Open();
    other.Open(); // no device to be held by the first
    other.WriteText("#Q");
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(otherRecord.Commands().size(), 1u);
    other.Close();
}

} // namespace
} // namespace kobito
