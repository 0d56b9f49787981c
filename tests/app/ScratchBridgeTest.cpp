// The Scratch bridge against a Scratch-side peer on the loopback interface,
// with the simulator as the robot.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "ScratchPeer.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "IniFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using kobito::test::ScratchPeer;
using kobito::test::SimProcess;
using namespace std::chrono_literals;

namespace {

const std::string kDone = std::string("\x00\x00\x00\x10", 4) + "broadcast \"Done\"";

class ScratchBridge : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Slots captioned by their file names, then the window.
    void StartWindow(const std::vector<std::pair<int, QString>>& assigned) {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[REMOCON]\r\n");
        for (const auto& [k, name] : assigned) {
            const QString path = dir.filePath(name + ".kmf");
            if (!QFile::exists(path))
                MotionFile(name, {11, 12});
            ini.write(QStringLiteral("Button%1=%2\r\n").arg(k + 1).arg(path).toUtf8());
        }
        ini.close();
        form = std::make_unique<TForm1>();
        access = std::make_unique<TForm1Access>(*form);
        access->SetScratchPort(peer.Port());
        form->show();
    }

    // A motion file with one row per HDY value, each with move time 3.
    void MotionFile(const QString& name, std::vector<int> hdy) {
        QFile f(dir.filePath(name + ".kmf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int v : hdy)
            f.write(QByteArray::number(v) + ",0,0,0,0,0,0,0,0,0,0,0,0,0,0,3\r\n");
    }

    void OpenRobot() {
        sim = std::make_unique<SimProcess>(
            KOBITO_SIM_PATH, std::vector<std::string>{"--time-unit-ms", "1", "--record",
                                                      dir.filePath("rec").toStdString()});
        form->findChild<QComboBox*>("cbxComPort")
            ->setEditText(QString::fromStdString(sim->DevicePath()));
        QTest::mouseClick(form->findChild<TButton*>("btnConnect"), Qt::LeftButton);
        ASSERT_EQ(form->findChild<TButton*>("btnConnect")->text(), "切断 Close");
    }

    void SwitchOn() {
        Switch()->SetIsChecked(true);
        ASSERT_TRUE(peer.WaitForClients(1, 2s));
        EXPECT_EQ(form->findChild<QLabel*>("lblScratch")->text(), "Scratch 接続中");
    }
    TSwitch* Switch() { return form->findChild<TSwitch*>("swiScratch"); }
    QString Log() { return form->findChild<QPlainTextEdit*>("memLog")->toPlainText(); }
    bool WaitForLog(const QString& text, int ms = 3000) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, ms);
    }
    // Poses the robot received, as their HDY values.
    QStringList Poses() const {
        QFile f(dir.filePath("rec"));
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.contains(" RX #PS00A"))
                    out << QString::number(line.mid(line.indexOf("#PS00A") + 6, 3).toInt());
        return out;
    }
    int Count(const QString& text) { return int(Log().count(text)); }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    ScratchPeer peer;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1Access> access;
};

} // namespace

TEST_F(ScratchBridge, ABroadcastPlaysItsSlotOnceThenHoldsAfterDone) {
    StartWindow({{2, "Walk"}});
    OpenRobot();
    SwitchOn();
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(WaitForLog("[SCRTCH/Recv] broadcast \"Walk\"\n"));
    EXPECT_TRUE(WaitForLog("[SCRTCH/Recv] Walk match"));
    EXPECT_EQ(access->Cell(0, 1), "11");
    EXPECT_TRUE(access->Executing());

    // Done goes back once, byte for byte, and playback then only polls.
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone; }, 5000))
        << Log().toStdString();
    QTest::qWait(300);
    EXPECT_EQ(peer.Received(), kDone);
    EXPECT_EQ(Poses(), QStringList({"11", "12"}));
    EXPECT_TRUE(access->Executing());
    EXPECT_EQ(Count("[SCRTCH/Send] broadcast \"Done\""), 1);

    // A further broadcast clears the hold and plays the slot again.
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone + kDone; }, 5000));
    EXPECT_EQ(Poses(), QStringList({"11", "12", "11", "12"}));
}

TEST_F(ScratchBridge, NamesMatchExactlyAndOtherTextsAreOnlyLogged) {
    StartWindow({{0, "Walk"}});
    SwitchOn();
    peer.SendFrame("broadcast \"Walk\""); // the port is closed
    peer.SendFrame("sensor-update \"x\" 5 ");
    ASSERT_TRUE(WaitForLog("[SCRTCH/Recv] sensor-update"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] broadcast \"Walk\"\n"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] KOBITO not connected\n"));
    OpenRobot();
    peer.SendFrame("broadcast \"walk\"");
    peer.SendFrame("broadcast \"Quit\"");
    peer.SendFrame("broadcast \"\"");
    ASSERT_TRUE(WaitForLog("[SCRTCH/Recv]  unmatch"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] walk unmatch"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] Quit match"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] sensor-update \"x\" 5 \n"));
    EXPECT_EQ(Count("sensor-update"), 1) << "logged, nothing else";
    EXPECT_FALSE(access->Executing());
}

TEST_F(ScratchBridge, QuitStopsPlayback) {
    StartWindow({{0, "Walk"}});
    OpenRobot();
    SwitchOn();
    QTest::mouseClick(form->findChild<TButton*>("btnRun"), Qt::LeftButton);
    EXPECT_TRUE(dialogs.Texts(ShownDialog::Error).size() == 1) << "the table is empty";
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return access->Executing(); }, 3000));
    peer.SendFrame("broadcast \"Quit\"");
    ASSERT_TRUE(WaitForLog("Quit match"));
    EXPECT_FALSE(access->Executing());
    EXPECT_EQ(form->findChild<TButton*>("btnRun")->text(), "実行 Run");
}

TEST_F(ScratchBridge, TwoSlotsOfOneNameRunInOrderWithTheDiscardQuestion) {
    MotionFile("Walk", {11});
    QDir(dir.path()).mkdir("b");
    {
        QFile f(dir.filePath("b/Walk.kmf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("22,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3\r\n");
    }
    StartWindow({{0, "Walk"}});
    // The second slot holds the other file of the same name.
    form.reset();
    {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(("[REMOCON]\r\nButton1=" + dir.filePath("Walk.kmf") +
                   "\r\nButton4=" + dir.filePath("b/Walk.kmf") + "\r\n")
                      .toUtf8());
    }
    form = std::make_unique<TForm1>();
    access = std::make_unique<TForm1Access>(*form);
    access->SetScratchPort(peer.Port());
    OpenRobot();
    SwitchOn();

    struct Case {
        std::deque<bool> answers;
        QString row0;
        int questions;
    };
    // Yes: both run, the second without a question, and only the second
    // slot's rows reach the robot. No then No: nothing runs.
    for (const Case& c : {Case{{true}, "22", 1}, Case{{false, false}, "5", 2}}) {
        access->SetCell(0, 1, "5");
        access->SetDataChanged(true);
        dialogs.shown.clear();
        dialogs.yesNoAnswers = c.answers;
        const int before = Count("Walk match");
        const qsizetype posesBefore = Poses().size();
        peer.SendFrame("broadcast \"Walk\"");
        ASSERT_TRUE(QTest::qWaitFor([&] { return Count("Walk match") == before + 1; }, 3000));
        EXPECT_EQ(access->Cell(0, 1), c.row0);
        EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), c.questions);
        if (c.row0 == "22") {
            ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() > posesBefore; }, 3000));
            EXPECT_EQ(Poses().mid(posesBefore).first(), "22");
            EXPECT_FALSE(Poses().mid(posesBefore).contains("11")) << "the first slot was played";
        } else {
            QTest::qWait(200);
            EXPECT_EQ(Poses().size(), posesBefore);
        }
        QTest::mouseClick(form->findChild<TButton*>("btnRun"), Qt::LeftButton); // Break
        if (access->Executing())
            QTest::mouseClick(form->findChild<TButton*>("btnRun"), Qt::LeftButton);
    }
}

TEST_F(ScratchBridge, NobodyListeningGivesTheConnectErrorAndTheSwitchGoesOff) {
    StartWindow({});
    kobito::test::UnusedPort closed;
    access->SetScratchPort(closed.Port());
    Switch()->SetIsChecked(true);
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error), QStringList{"SCRATCHと接続できません"});
    EXPECT_TRUE(Log().contains("[SCRTCH/Open] 接続エラー"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Switch()->IsChecked(); }, 2000));
    EXPECT_TRUE(Log().contains("[SCRTCH/Send] 通信エラーにより切断"));
    EXPECT_EQ(form->findChild<QLabel*>("lblScratch")->text(), "Scratch 未接続");
}

TEST_F(ScratchBridge, ThePeerClosingOrABrokenFrameSwitchesTheBridgeOff) {
    struct Case {
        const char* name;
        std::function<void(ScratchPeer&)> fault;
    };
    const Case cases[] = {
        {"peer closes", [](ScratchPeer& p) { p.CloseClient(); }},
        {"closes mid-frame",
         [](ScratchPeer& p) {
             p.SendRaw(ScratchPeer::Length(20) + "broad");
             p.CloseClient();
         }},
        {"giant length", [](ScratchPeer& p) { p.SendRaw(ScratchPeer::Length(0x7fffffff)); }},
    };
    StartWindow({});
    size_t clients = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = Count("通信エラーにより切断");
        Switch()->SetIsChecked(true);
        ASSERT_TRUE(peer.WaitForClients(++clients, 2s));
        peer.SendFrame("hello");
        ASSERT_TRUE(QTest::qWaitFor([&] { return Count("[SCRTCH/Recv] hello") > before; }, 3000));
        c.fault(peer);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Switch()->IsChecked(); }, 3000));
        EXPECT_EQ(Count("通信エラーにより切断"), before + 1);
        EXPECT_EQ(form->findChild<QLabel*>("lblScratch")->text(), "Scratch 未接続");
    }
}

TEST_F(ScratchBridge, AListEndingAfterThePeerClosedMidFrameSendsNoDoneAndRepeats) {
    StartWindow({});
    OpenRobot();
    SwitchOn();
    for (int row = 0; row < 2; ++row) {
        access->SetCell(row, 1, QString::number(11 + row));
        access->SetCell(row, 16, "3");
    }
    // The bridge's tick is held back, so that the list end is the first to
    // find the peer gone: the order a finished reply arriving within the
    // tick's period gives.
    auto* bridgeTick = form->findChild<QTimer*>("TmrScratch");
    ASSERT_NE(bridgeTick, nullptr);
    bridgeTick->stop();
    peer.SendRaw(ScratchPeer::Length(20) + "broad");
    peer.CloseClient();
    QTest::mouseClick(form->findChild<TButton*>("btnRun"), Qt::LeftButton);

    // No "Done" into the closed connection, no box; the list repeats as
    // with the bridge off.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 5; }, 5000)) << Log().toStdString();
    EXPECT_EQ(Poses().mid(0, 5), QStringList({"11", "12", "11", "12", "11"}));
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error), QStringList{});
    EXPECT_EQ(Count("[SCRTCH/Send]"), 0) << Log().toStdString();

    // The next tick drops the bridge quietly; playback goes on.
    bridgeTick->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Switch()->IsChecked(); }, 3000));
    EXPECT_EQ(Count("[SCRTCH/Send] 通信エラーにより切断"), 1);
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error), QStringList{});
    const qsizetype poses = Poses().size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= poses + 2; }, 5000));
    EXPECT_TRUE(access->Executing());
}

TEST_F(ScratchBridge, AStalledFrameLeavesTheWindowResponsive) {
    StartWindow({});
    SwitchOn();
    const std::string frame = ScratchPeer::Frame("broadcast \"Slow\"");
    peer.SendRaw(frame.substr(0, 9));
    // The window keeps handling events while the rest has not arrived.
    QElapsedTimer spent;
    spent.start();
    QTest::qWait(200);
    EXPECT_LT(spent.elapsed(), 1000) << "ticks came back";
    EXPECT_FALSE(Log().contains("Slow"));
    peer.SendRaw(frame.substr(9));
    EXPECT_TRUE(WaitForLog("[SCRTCH/Recv] broadcast \"Slow\""));
    EXPECT_TRUE(Switch()->IsChecked());
}

TEST_F(ScratchBridge, AHundredMessagesAtOnceAreHandledInOrder) {
    StartWindow({});
    SwitchOn();
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += ScratchPeer::Frame("m" + std::to_string(i));
    peer.SendRaw(burst);
    ASSERT_TRUE(WaitForLog("[SCRTCH/Recv] m99"));
    const QString log = Log() + "\n";
    int last = -1;
    for (int i = 0; i < 100; ++i) {
        const int at = int(log.indexOf(QStringLiteral("[SCRTCH/Recv] m%1\n").arg(i)));
        ASSERT_GT(at, last) << i;
        last = at;
    }
}

TEST_F(ScratchBridge, AHeldListOnlyPollsWhileABroadcastsDiscardQuestionIsOpen) {
    StartWindow({{0, "Walk"}});
    OpenRobot();
    SwitchOn();
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone; }, 5000));
    ASSERT_EQ(Poses(), QStringList({"11", "12"}));

    // Held after Done; the table is changed, so the next broadcast asks first.
    access->SetCell(0, 1, "0");
    access->SetDataChanged(true);
    auto polls = [&] { return Count("[KOBITO/Send] #Q"); };
    QStringList posesWhileAsked;
    std::string scratchWhileAsked;
    int pollsWhileAsked = 0;
    dialogs.yesNoAnswers = {true};
    dialogs.whileAsking = [&] {
        const int pollsBefore = polls();
        QTest::qWait(400); // the user thinks it over
        posesWhileAsked = Poses();
        scratchWhileAsked = peer.Received();
        pollsWhileAsked = polls() - pollsBefore;
    };
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Count("Walk match") == 2; }, 3000));
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), 1);
    EXPECT_EQ(posesWhileAsked, QStringList({"11", "12"})) << "rows went out under the dialog";
    EXPECT_EQ(scratchWhileAsked, kDone) << "Done went out again under the dialog";
    EXPECT_GE(pollsWhileAsked, 4) << "the held list polls meanwhile";

    // Answered Yes: the slot plays once more and says Done once for it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone + kDone; }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(peer.Received(), kDone + kDone);
    EXPECT_EQ(Poses(), QStringList({"11", "12", "11", "12"}));
}

TEST_F(ScratchBridge, ClosingTheWindowLogsNothingAfterTheDisconnect) {
    StartWindow({{0, "Walk"}});
    OpenRobot();
    SwitchOn();
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return access->Executing(); }, 3000));
    ASSERT_TRUE(form->close());
    QTest::qWait(200); // ticks of both timers would have come by now
    const QStringList lines = Log().split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith("[SCRTCH/****] 切断")) << lines.last().toStdString();
    EXPECT_FALSE(Log().contains("通信エラーにより切断"));
}

TEST_F(ScratchBridge, ASlotNamedWithAnAmpersandMatchesItsBroadcast) {
    StartWindow({{0, "R&D"}});
    OpenRobot();
    SwitchOn();
    peer.SendFrame("broadcast \"R&D\"");
    EXPECT_TRUE(WaitForLog("[SCRTCH/Recv] R&D match")) << Log().toStdString();
    EXPECT_EQ(access->Cell(0, 1), "11");
}
