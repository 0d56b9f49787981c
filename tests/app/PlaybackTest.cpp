// Playback on the simulator: rows go out one by one, paced by its finished
// reply, and the list repeats until Break.
#include "PlaybackFixture.h"
#ifdef _WIN32
#include "RemotePty.h"
#else
#include "Pty.h"
#endif

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
#ifdef _WIN32
    kobito::test::RemotePty robot; // behind COM1
    const QString port = QStringLiteral("COM1");
#else
    kobito::test::PtyPair robot;
    const QString port = QString::fromStdString(robot.SlavePath());
#endif
    form.show();
    form.findChild<QComboBox*>("cbxComPort")->setEditText(port);
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
