// kobito-sim as a process, driven through the serial component.
#include "PoseCommand.h"
#include "SimProcess.h"
#include "TestDispatcher.h"
#include "VaComm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kobito {
namespace {

using namespace std::chrono_literals;
using test::SimProcess;
using test::TestDispatcher;

const std::array<int32_t, 16> kPose{90, 90, 0, 130, 90, 180, 50, 90, 90, 90, 90, 90, 0, 0, 255, 10};

class SimEndToEnd : public testing::Test {
protected:
    void Start(std::vector<std::string> args) {
        sim = std::make_unique<SimProcess>(KOBITO_SIM_PATH, args);
        ASSERT_FALSE(sim->DevicePath().empty()) << sim->Stderr();
        comm.SetDeviceName(sim->DevicePath());
        comm.SetBaudrate(br57600);
        comm.OnRxChar = [this](TVaComponent*, int count) {
            counts.push_back(count);
            if (readAll)
                received += comm.ReadText();
        };
        comm.OnError = [this](TVaComponent*, int errors) { this->errors.push_back(errors); };
        comm.Open();
    }
    // Sends a command and collects the reply of the given length.
    std::string Ask(const std::string& command, std::size_t replySize,
                    std::chrono::milliseconds timeout = 5s) {
        received.clear();
        comm.WriteText(command);
        dispatcher.RunUntil([&] { return received.size() >= replySize; }, timeout);
        return received;
    }
    std::string RecordPath() const {
        return testing::TempDir() + "kobito-sim-record-" + std::to_string(getpid()) + ".txt";
    }

    TestDispatcher dispatcher;
    std::unique_ptr<SimProcess> sim;
    std::string received;
    std::vector<int> counts;
    std::vector<int> errors;
    bool readAll = true;
    // Destroyed first: closing delivers an event already being handed over,
    // and its handlers write to the members above.
    TVaComm comm{&dispatcher};
};

TEST_F(SimEndToEnd, AnswersThePollOnceTheMoveTimeHasPassed) {
    const std::string record = RecordPath();
    std::remove(record.c_str());
    // T 10 at 200 ms a unit: a two-second move, so that a busy machine
    // still asks while it lasts; the sleep after it is a lower bound.
    Start({"--record", record, "--time-unit-ms", "200"});
    const std::string pose = BuildPoseCommand(kPose);
    comm.WriteText(pose);
    std::this_thread::sleep_for(30ms); // the idle gap ends the pose
    const std::string moving = Ask("#Q", 7);
    ASSERT_EQ(moving.size(), 7u);
    EXPECT_EQ(moving.substr(0, 4), "#QPT");
    EXPECT_NE(moving, "#QPT000");
    std::this_thread::sleep_for(2100ms);
    EXPECT_EQ(Ask("#Q", 7), "#QPT000");
    comm.Close();
    EXPECT_EQ(sim->Stop(), 0);
    EXPECT_EQ(sim->Stderr(), "");

    // The record has every command byte for byte, and the replies.
    std::ifstream in(record);
    std::vector<std::pair<std::string, std::string>> lines;
    long long previous = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find(' ');
        const auto second = line.find(' ', first + 1);
        ASSERT_NE(second, std::string::npos) << line;
        const long long ns = std::stoll(line.substr(0, first));
        EXPECT_GE(ns, previous);
        previous = ns;
        lines.emplace_back(line.substr(first + 1, second - first - 1), line.substr(second + 1));
    }
    using L = std::pair<std::string, std::string>;
    EXPECT_EQ(lines, (std::vector<L>{L{"RX", pose}, L{"RX", "#Q"}, L{"TX", moving}, L{"RX", "#Q"},
                                     L{"TX", "#QPT000"}}));
    std::remove(record.c_str());
}

TEST_F(SimEndToEnd, ReportsAMalformedPoseOnStandardError) {
    Start({});
    comm.WriteText("#PS00A90S01A090");
    EXPECT_TRUE(sim->WaitForStderr("malformed pose command", 5s)) << sim->Stderr();
    EXPECT_EQ(Ask("#Q", 7), "#QPT000"); // and still answers
}

TEST_F(SimEndToEnd, SplitRepliesArriveInPieces) {
    readAll = false; // as playback does below 7 bytes
    Start({"--split-ms", "100"});
    comm.WriteText("#Q");
    dispatcher.RunUntil([&] { return counts.size() >= 2; }, 5s);
    EXPECT_EQ(counts, (std::vector<int>{4, 7}));
    EXPECT_EQ(comm.ReadText(), "#QPT000");
}

TEST_F(SimEndToEnd, NoiseComesBeforeTheReply) {
    Start({"--noise", "3"});
    EXPECT_EQ(Ask("#Q", 10), "~~~#QPT000");
}

TEST_F(SimEndToEnd, SilentNeverAnswers) {
    Start({"--silent"});
    EXPECT_EQ(Ask("#Q", 1, 500ms), "");
    EXPECT_TRUE(counts.empty());
}

TEST_F(SimEndToEnd, HangingUpIsALineErrorForTheProgram) {
    Start({"--hangup-after", "2"});
    EXPECT_EQ(Ask("#Q", 7), "#QPT000");
    comm.WriteText("#Q");
    dispatcher.RunUntil([&] { return !errors.empty(); }, 5s);
    EXPECT_EQ(errors, std::vector<int>{0x400});
    int status = 0;
    ASSERT_TRUE(sim->WaitExit(5s, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SimCommandLine, LinksThePathAndRemovesTheLinkAtExit) {
    const std::string link = testing::TempDir() + "kobito-sim-link-" + std::to_string(getpid());
    SimProcess sim(KOBITO_SIM_PATH, {"--link", link});
    ASSERT_FALSE(sim.DevicePath().empty());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.DevicePath());
    const int status = sim.Stop(); // SIGTERM: a clean end
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);
}

TEST(SimCommandLine, HelpExplainsEveryOption) {
    std::FILE* out = popen(KOBITO_SIM_PATH " --help", "r");
    ASSERT_NE(out, nullptr);
    std::string help;
    char buf[512];
    while (std::fgets(buf, sizeof buf, out) != nullptr)
        help += buf;
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* option :
         {"--link", "--time-unit-ms", "--idle-ms", "--split-ms", "--split-size", "--noise",
          "--hangup-after", "--silent", "--record", "--verbose", "#QPT000", "SIGTERM"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

} // namespace
} // namespace kobito
