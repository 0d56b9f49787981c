// Playback's pacing: one command a tick, never two handed to the serial
// component within 48 ms, stamped where the window hands them over (the
// times at the far end of the pseudo-terminal include its own write
// latency, so they are printed, not judged); the order the robot saw, from
// the simulator's record. Run alone (RUN_SERIAL).
#include "PlaybackFixture.h"
#include "SimRecord.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using kobito::test::SimEvent;

namespace {

struct HandOff {
    std::string text;
    int64_t ns;
};

// The shortest gap between neighbours, in ms; printed for the record.
template <typename T> double ShortestGapMs(const std::vector<T>& events) {
    int64_t shortest = INT64_MAX;
    for (std::size_t i = 1; i < events.size(); ++i)
        shortest = std::min(shortest, events[i].ns - events[i - 1].ns);
    return double(shortest) / 1e6;
}

class Pacing : public Playback {
protected:
    void SetUp() override {
        Playback::SetUp();
        access.OnPlaybackHandOff([this](const QString& text, qint64 ns) {
            handOffs.push_back({text.toStdString(), ns});
        });
    }
    // Every two hand-offs at least 48 ms apart: the window's own promise,
    // which no load on the machine can break.
    void ExpectHandOffsATickApart() {
        for (std::size_t i = 1; i < handOffs.size(); ++i)
            EXPECT_GE(handOffs[i].ns - handOffs[i - 1].ns, 48'000'000)
                << "two commands within one tick: " << handOffs[i - 1].text << ", "
                << handOffs[i].text;
    }
    void PrintGaps(const std::vector<SimEvent>& commands) {
        std::printf("[ figures  ] shortest gap: %.1f ms handed over, %.1f ms at the robot\n",
                    ShortestGapMs(handOffs), ShortestGapMs(commands));
    }

    std::vector<HandOff> handOffs;
};

} // namespace

TEST_F(Pacing, EachTickSendsOneCommandAndARowWaitsForTheTickAfterTheReply) {
    Start();
    for (int r = 0; r < 100; ++r)
        SetRow(r, 1 + r % 3); // every move is over before the first poll
    const int64_t clicked = kobito::test::MonotonicNs();
    Click("btnRun");
    // The whole list and row 0 again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 101; }, 60000));
    Click("btnRun");

    const std::vector<SimEvent> record =
        kobito::test::ReadSimRecord(dir.filePath("rec").toStdString());
    const std::vector<SimEvent> commands = kobito::test::ReceivedCommands(record);
    ASSERT_GE(commands.size(), 201u);
    ASSERT_GE(handOffs.size(), commands.size());
    // Row 0 goes on the first tick after Run, not at the click.
    EXPECT_TRUE(commands[0].text.starts_with("#PS00A010")) << commands[0].text;
    EXPECT_EQ(handOffs[0].text, commands[0].text);
    EXPECT_GE(handOffs[0].ns - clicked, 40'000'000) << "row 0 left at the click";
    ExpectHandOffsATickApart();
    PrintGaps(commands);

    // Row, poll, row, poll ...: the poll after each row finds the move over,
    // and only the tick after its answer sends the next row.
    int row = 0;
    for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
        SCOPED_TRACE(i);
        if (i % 2 == 0) {
            ASSERT_TRUE(commands[i].text.starts_with(
                "#PS00A" + QString::asprintf("%03d", 10 + row % 100).toStdString()))
                << commands[i].text;
            ++row;
        } else {
            ASSERT_EQ(commands[i].text, "#Q");
        }
        // The robot got what was handed over, in that order.
        ASSERT_EQ(commands[i].text, handOffs[i].text);
    }
    // Every poll was answered finished before the row after it.
    for (std::size_t i = 1; i < record.size(); ++i) {
        if (record[i].rx && record[i].text.starts_with("#P")) {
            ASSERT_EQ(record[i - 1].text, "#QPT000") << i;
        }
    }
}

TEST_F(Pacing, AStallingWindowNeverSendsTwoCommandsWithinOneTick) {
    Start();
    for (int r = 0; r < 100; ++r)
        SetRow(r, 1);
    // Now and then the GUI thread is busy for 25 ms, so ticks come late and
    // the timer, keeping its grid, would fire the next one early.
    QTimer stall;
    stall.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stall, &QTimer::timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(25)); });
    stall.start(130);
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 30; }, 30000));
    Click("btnRun");
    stall.stop();

    const std::vector<SimEvent> commands = kobito::test::ReceivedCommands(
        kobito::test::ReadSimRecord(dir.filePath("rec").toStdString()));
    ASSERT_GE(commands.size(), 59u);
    ASSERT_GE(handOffs.size(), 59u);
    ExpectHandOffsATickApart();
    PrintGaps(commands);
    QStringList rows;
    for (int r = 0; r < 30; ++r)
        rows << "P" + QString::number(10 + r);
    EXPECT_EQ(Poses().mid(0, 30), rows) << "a row lost or repeated";
}

// A tick held back, still waiting when the window closes: closing cancels
// it, so nothing more goes to the port, not even while a message of the
// shutdown is up.
TEST_F(Pacing, ClosingTheWindowCancelsATickHeldBack) {
    Start();
    SetRow(0, 200);
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !handOffs.empty(); }, 5000));
    // Too soon after the last command (the first call may itself be late
    // enough to send a poll): held back.
    access.Timer1Timer();
    access.Timer1Timer();
    const std::size_t before = handOffs.size();
    access.SetDataChanged(false);
    form.close();
    ASSERT_TRUE(access.IsDestroyed());
    QTest::qWait(150);
    EXPECT_EQ(handOffs.size(), before) << handOffs.back().text;
}
