// The playback sequencer against a table held in memory: which row goes out
// when, and which replies count as the robot's finished move.
#include "Playback.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using kobito::TPlaybackSequencer;

namespace {

// A motion table whose row r has HDY = r and the given move times; every
// command and log line goes to one transcript.
class TableHost : public kobito::PlaybackHost {
public:
    std::map<int, int32_t> times; // row → TIM; rows not listed have 0
    std::string waiting;          // bytes on the serial port
    bool scratch = false;
    std::vector<std::string> transcript;

    int32_t Cell(int row, int column) override {
        if (column == kobito::TimeColumn) {
            const auto it = times.find(row);
            return it == times.end() ? 0 : it->second;
        }
        return column == 1 ? row : 0;
    }
    void SendPose(const std::array<int32_t, 16>& v) override {
        transcript.push_back("P" + std::to_string(v[0]));
    }
    void SendCommand(const std::string& text) override { transcript.push_back(text); }
    void SelectRow(int row) override { selected = row; }
    std::string ReadText() override { return std::exchange(waiting, {}); }
    void LogReceived(const std::string& text) override { transcript.push_back("log " + text); }
    bool ScratchConnected() override { return scratch; }
    void NotifyListEnd() override {
        transcript.push_back("Done");
        if (whileNotifying)
            whileNotifying();
    }

    int selected = -1;
    // Runs inside NotifyListEnd, as the event loop of the error box that a
    // failed "Done" opens does.
    std::function<void()> whileNotifying;
};

// Runs ticks; after each pose the robot answers the next poll as finished.
std::vector<std::string> Play(TPlaybackSequencer& seq, TableHost& host, int ticks) {
    for (int i = 0; i < ticks; ++i) {
        seq.Tick(host);
        if (host.transcript.back() == "#Q") {
            host.waiting = kobito::FinishedReply;
            seq.Received(7, host);
        }
    }
    std::vector<std::string> poses;
    for (const std::string& t : host.transcript)
        if (t[0] == 'P' || t == "Done")
            poses.push_back(t);
    return poses;
}

} // namespace

TEST(PlaybackSequencer, TheListEndsBeforeTheFirstRowWithoutTimeAndRepeats) {
    struct Case {
        const char* name;
        std::map<int, int32_t> times;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"three rows", {{0, 5}, {1, 5}, {2, 5}, {4, 5}}, {"P0", "P1", "P2", "P0", "P1"}},
        {"negative time plays", {{0, 5}, {1, -3}}, {"P0", "P1", "P0", "P1", "P0"}},
        {"one row", {{0, 1}}, {"P0", "P0", "P0", "P0", "P0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TableHost host;
        host.times = c.times;
        TPlaybackSequencer seq;
        ASSERT_TRUE(TPlaybackSequencer::HasData(host));
        seq.Restart();
        EXPECT_EQ(Play(seq, host, 10), c.expected);
    }
}

TEST(PlaybackSequencer, AfterRow99PlaybackGoesOnWithRow0) {
    TableHost host;
    for (int r = 0; r < 100; ++r)
        host.times[r] = 1;
    TPlaybackSequencer seq;
    seq.Restart();
    const auto poses = Play(seq, host, 204);
    ASSERT_GE(poses.size(), 101u);
    EXPECT_EQ(poses[99], "P99");
    EXPECT_EQ(poses[100], "P0");
    EXPECT_EQ(host.selected, 1);
}

TEST(PlaybackSequencer, OnlyTheExactFinishedReplyLetsTheNextRowGo) {
    struct Case {
        std::string bytes;
        bool finished;
    };
    const Case cases[] = {
        {"#QPT000", true},         {"#QPT005", false},  {"#QPT000\r\n", false},
        {"#QPT000#QPT000", false}, {"~#QPT000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        TableHost host;
        host.times = {{0, 5}, {1, 5}};
        TPlaybackSequencer seq;
        seq.Restart();
        seq.Tick(host); // row 0 goes out
        seq.Tick(host); // and the robot is polled
        host.waiting = c.bytes;
        seq.Received(int(c.bytes.size()), host);
        EXPECT_EQ(seq.MotionDone, c.finished);
        EXPECT_EQ(host.transcript.back(), "log " + c.bytes);
        seq.Tick(host);
        EXPECT_EQ(host.transcript.back(), c.finished ? "P1" : "#Q");
    }
}

TEST(PlaybackSequencer, FewerThanSevenBytesWaitAndAreCountedInTheLog) {
    TableHost host;
    host.times = {{0, 5}};
    TPlaybackSequencer seq;
    seq.Restart();
    seq.Tick(host);
    seq.Tick(host);
    host.waiting = "#QPT";
    seq.Received(4, host);
    EXPECT_EQ(host.transcript.back(), "log (4)");
    EXPECT_EQ(host.waiting, "#QPT") << "nothing is read yet";
    host.waiting += "000";
    seq.Received(7, host);
    EXPECT_TRUE(seq.MotionDone);
}

TEST(PlaybackSequencer, WithScratchConnectedTheListPlaysOnceThenHolds) {
    TableHost host;
    host.scratch = true;
    host.times = {{0, 5}, {1, 5}, {2, 5}};
    TPlaybackSequencer seq;
    seq.Restart();
    EXPECT_EQ(Play(seq, host, 12), (std::vector<std::string>{"P0", "P1", "P2", "Done"}));
    EXPECT_TRUE(seq.ListEndNotified);
    EXPECT_EQ(host.transcript.back(), "log #QPT000") << "the reply is logged after Done";

    // Cleared by the bridge: the list plays again from row 0.
    seq.ListEndNotified = false;
    host.transcript.clear();
    seq.Tick(host);
    EXPECT_EQ(host.transcript.back(), "P0");
}

TEST(PlaybackSequencer, ALateReplyToAnEarlierPollDoesNotFinishTheNextRow) {
    TableHost host;
    host.times = {{0, 5}, {1, 5}, {2, 5}};
    TPlaybackSequencer seq;
    seq.Restart();
    seq.Tick(host); // row 0
    seq.Tick(host); // poll
    seq.Tick(host); // poll again: the robot is slow to answer
    host.waiting = kobito::FinishedReply;
    seq.Received(7, host);
    seq.Tick(host); // row 1
    EXPECT_EQ(host.transcript.back(), "P1");
    host.waiting = kobito::FinishedReply; // the answer to the second poll
    seq.Received(7, host);
    EXPECT_FALSE(seq.MotionDone);
    seq.Tick(host);
    EXPECT_EQ(host.transcript.back(), "#Q");
}

TEST(PlaybackSequencer, AfterARestartALateReplyNeitherSendsDoneNorSkipsRow0) {
    TableHost host;
    host.scratch = true;
    host.times = {{0, 5}};
    TPlaybackSequencer seq;
    seq.Restart();
    seq.Tick(host);
    seq.Tick(host); // polled: a reply is on its way
    seq.Restart();  // a slot started meanwhile
    host.waiting = kobito::FinishedReply;
    seq.Received(7, host);
    EXPECT_FALSE(seq.ListEndNotified);
    EXPECT_NE(host.transcript.back(), "Done");
    seq.Tick(host);
    EXPECT_EQ(host.transcript.back(), "P0");
}

TEST(PlaybackSequencer, WhileTheListEndIsBeingNotifiedTicksOnlyPoll) {
    TableHost host;
    host.scratch = true;
    host.times = {{0, 5}, {1, 5}};
    TPlaybackSequencer seq;
    std::vector<std::string> underTheBox;
    host.whileNotifying = [&] {
        const std::size_t before = host.transcript.size();
        for (int i = 0; i < 3; ++i)
            seq.Tick(host);
        underTheBox.assign(host.transcript.begin() + std::ptrdiff_t(before), host.transcript.end());
    };
    seq.Restart();
    EXPECT_EQ(Play(seq, host, 4), (std::vector<std::string>{"P0", "P1", "Done"}));
    EXPECT_EQ(underTheBox, (std::vector<std::string>{"#Q", "#Q", "#Q"}))
        << "a row went out while the notification was still running";
    EXPECT_TRUE(seq.ListEndNotified);
}
