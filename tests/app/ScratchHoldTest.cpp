// The Scratch bridge and held playback: a broadcast handled while a poll is
// still unanswered restarts the slot, and the late answer to that poll must
// neither end the restarted list nor send "Done" for it. The test plays the
// robot itself, so that it decides when the answer comes.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "Pty.h"
#include "ScratchPeer.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "IniFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

TEST(ScratchBridgeHold, ABroadcastWhileAPollIsUnansweredPlaysTheSlotAgain) {
    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    kobito::test::ScratchPeer peer;
    kobito::test::PtyPair pty;
    {
        QFile kmf(dir.filePath("Walk.kmf"));
        ASSERT_TRUE(kmf.open(QIODevice::WriteOnly));
        kmf.write("11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3\r\n");
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(("[REMOCON]\r\nButton1=" + dir.filePath("Walk.kmf") + "\r\n").toUtf8());
    }
    TForm1 form;
    TForm1Access access(form);
    access.SetScratchPort(peer.Port());
    form.show();
    form.findChild<QComboBox*>("cbxComPort")->setEditText(QString::fromStdString(pty.SlavePath()));
    QTest::mouseClick(form.findChild<TButton*>("btnConnect"), Qt::LeftButton);
    ASSERT_EQ(form.findChild<TButton*>("btnConnect")->text(), "切断 Close");
    form.findChild<TSwitch*>("swiScratch")->SetIsChecked(true);
    ASSERT_TRUE(peer.WaitForClients(1, 2s));

    std::string robot; // what the robot has received
    auto take = [&] {
        pollfd p{pty.Master(), POLLIN, 0};
        char b[512];
        while (poll(&p, 1, 0) > 0) {
            const ssize_t n = read(pty.Master(), b, sizeof b);
            if (n <= 0)
                break;
            robot.append(b, size_t(n));
        }
    };
    auto waitFor = [&](const std::string& text) {
        return QTest::qWaitFor(
            [&] {
                take();
                return robot.find(text) != std::string::npos;
            },
            3000);
    };
    auto log = [&] { return form.findChild<QPlainTextEdit*>("memLog")->toPlainText(); };
    const std::string done = std::string("\x00\x00\x00\x10", 4) + "broadcast \"Done\"";

    // Played through once: the pose, a poll answered finished, Done, held.
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(waitFor("#PS00A011"));
    robot.clear();
    ASSERT_TRUE(waitFor("#Q"));
    pty.Write("#QPT000");
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == done; }, 3000));

    // A poll goes out and stays unanswered while the next broadcast is handled.
    robot.clear();
    ASSERT_TRUE(waitFor("#Q"));
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log().count("Walk match") == 2; }, 3000));
    robot.clear();
    pty.Write("#QPT000"); // the answer to the poll sent before the broadcast
    QTest::qWait(300);
    take();

    EXPECT_NE(robot.find("#PS00A011"), std::string::npos)
        << "the slot was not played again; the robot got: " << robot;
    EXPECT_EQ(peer.Received(), done) << "Done went to Scratch for a list that has not played";
}
