// Playback on the simulator: rows go out one by one, paced by its finished
// reply, and the list repeats until Break.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "Pty.h"
#include "SimProcess.h"
#include "SimRecord.h"
#include "uMain.h"

#include "Button.h"

#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kobito::test::SimEvent;
using kobito::test::SimProcess;

namespace {

class Playback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--record", dir.filePath("rec").toStdString(),
                                         "--time-unit-ms", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(KOBITO_SIM_PATH, args);
        ASSERT_FALSE(sim->DevicePath().empty());
        form.show();
        form.findChild<QComboBox*>("cbxComPort")
            ->setEditText(QString::fromStdString(sim->DevicePath()));
        Click("btnConnect");
        ASSERT_EQ(Button("btnConnect")->text(), "切断 Close");
    }

    TButton* Button(const char* name) { return form.findChild<TButton*>(name); }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }

    // Row r gets HDY = 10 + r and the move time given.
    void SetRow(int r, int time) {
        for (int c = 1; c <= 16; ++c)
            access.SetCell(r, c, "0");
        access.SetCell(r, 1, QString::number(10 + r));
        access.SetCell(r, 16, QString::number(time));
    }

    // The commands the robot received: poses as "P<HDY>", polls as "Q".
    QStringList Received() const {
        QFile f(dir.filePath("rec"));
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const int rx = line.indexOf(" RX ");
            if (rx < 0)
                continue;
            const QByteArray cmd = line.mid(rx + 4);
            out << (cmd.startsWith("#PS00A")
                        ? "P" + QString::number(cmd.mid(6, 3).toInt())
                        : QString::fromLatin1(cmd.left(2) == "#Q" ? "Q" : cmd));
        }
        return out;
    }
    QStringList Poses() const { return Received().filter(QRegularExpression("^P")); }
    QString Log() { return form.findChild<QPlainTextEdit*>("memLog")->toPlainText(); }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};

} // namespace

TEST_F(Playback, TheListRepeatsRowByRowUntilBreak) {
    Start();
    for (int r = 0; r < 3; ++r)
        SetRow(r, 5);
    SetRow(3, 0);
    SetRow(4, 5); // after the end of the list: never sent
    Click("btnRun");
    EXPECT_EQ(Button("btnRun")->text(), "中止 Break");
    EXPECT_FALSE(Button("btnTest")->isEnabled());
    EXPECT_FALSE(Button("btnSendCommand")->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 7; }, 10000));
    Click("btnRun");
    EXPECT_EQ(Button("btnRun")->text(), "実行 Run");
    EXPECT_TRUE(Button("btnTest")->isEnabled());

    const QStringList poses = Poses();
    EXPECT_EQ(poses.mid(0, 7), QStringList({"P10", "P11", "P12", "P10", "P11", "P12", "P10"}));
    // Between two rows the robot is polled until it reports the move finished.
    const QStringList all = Received();
    for (int i = 1; i < all.size(); ++i) {
        if (all[i].startsWith('P')) {
            EXPECT_EQ(all[i - 1], "Q") << i;
        }
    }
    EXPECT_TRUE(Log().contains("[KOBITO/Recv] #QPT000"));

    // After Break nothing more is sent.
    const qsizetype sent = Received().size();
    QTest::qWait(300);
    EXPECT_EQ(Received().size(), sent);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Playback, ATableWithoutDataIsNotPlayed) {
    Start();
    Click("btnRun");
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList{"実行するデータがありません\r\nNo data available"});
    EXPECT_EQ(Button("btnRun")->text(), "実行 Run");
    QTest::qWait(200);
    EXPECT_TRUE(Received().isEmpty());
}

TEST_F(Playback, AReplyInPiecesIsCountedOnceWhole) {
    // The test plays the robot itself, so that the pieces arrive one by one.
    kobito::test::PtyPair robot;
    form.show();
    form.findChild<QComboBox*>("cbxComPort")
        ->setEditText(QString::fromStdString(robot.SlavePath()));
    Click("btnConnect");
    SetRow(0, 3);
    SetRow(1, 3);
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().contains("[KOBITO/Send] #Q"); }, 3000));
    robot.Write("#QPT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().contains("[KOBITO/Recv] (4)"); }, 3000));
    EXPECT_FALSE(access.Playback().MotionDone);
    robot.Write("000");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().contains("[KOBITO/Send] #PS00A011"); }, 3000))
        << Log().toStdString();
    EXPECT_TRUE(Log().contains("[KOBITO/Recv] #QPT000"));

    Click("btnRun");
}

TEST_F(Playback, ClosingThePortStopsPlaybackFirst) {
    Start();
    SetRow(0, 5);
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Poses().isEmpty(); }, 5000));
    Click("btnConnect");
    EXPECT_EQ(Button("btnRun")->text(), "実行 Run");
    EXPECT_FALSE(Button("btnRun")->isEnabled());
    EXPECT_FALSE(access.Executing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Log().contains("[KOBITO/****] 切断"); }, 2000));
}

TEST_F(Playback, ARowChangedDuringPlaybackGoesOutWithItsNewValues) {
    Start();
    SetRow(0, 5);
    SetRow(1, 5);
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 2; }, 5000));
    access.SetCell(1, 1, "77");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().contains("P77"); }, 5000));
    Click("btnRun");
    const QStringList poses = Poses();
    EXPECT_EQ(poses.mid(0, 2), QStringList({"P10", "P11"}));
    EXPECT_EQ(poses.at(poses.indexOf("P77") - 1), "P10");
}

TEST_F(Playback, EachTickSendsOneCommandAndARowWaitsForTheTickAfterTheReply) {
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
