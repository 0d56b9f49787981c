// Playback's pacing on the line, read from the simulator's record: one
// command a tick, never two within 40 ms. Run alone (RUN_SERIAL), as the
// record's times include how soon the simulator got the processor.
#include "PlaybackFixture.h"
#include "SimRecord.h"

#include <QTimer>

#include <chrono>
#include <thread>

using kobito::test::SimEvent;
using Pacing = Playback;

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
    // Row 0 goes on the first tick after Run, not at the click.
    EXPECT_TRUE(commands[0].text.starts_with("#PS00A010")) << commands[0].text;
    EXPECT_GE(commands[0].ns - clicked, 40'000'000) << "row 0 left at the click";

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
        EXPECT_GE(commands[i + 1].ns - commands[i].ns, 40'000'000)
            << "two commands within one tick: " << commands[i].text << ", " << commands[i + 1].text;
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
    for (std::size_t i = 1; i < commands.size(); ++i)
        EXPECT_GE(commands[i].ns - commands[i - 1].ns, 40'000'000) << i;
    QStringList rows;
    for (int r = 0; r < 30; ++r)
        rows << "P" + QString::number(10 + r);
    EXPECT_EQ(Poses().mid(0, 30), rows) << "a row lost or repeated";
}
