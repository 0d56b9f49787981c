// The window against a real Scratch 1.4 on 127.0.0.1:42001, as
// scripts/scratch-live starts it: a second client of Scratch sends a
// broadcast, Scratch relays it to the window, the window plays the slot on
// the simulator, and its "Done" comes back to the second client through
// Scratch.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "IniFile.h"
#include "ScratchClient.h"
#include "ScratchFrame.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using kobito::test::SimProcess;

namespace {

const std::string kWalk = "broadcast \"Walk\"";
const std::string kDone(kobito::kScratchDoneText);

class ScratchLive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Scratch's other client: connected first, so that Scratch has
        // accepted it by the time the window's relays are checked.
        try {
            probe.Connect();
        } catch (const std::exception& e) {
            FAIL() << "no Scratch on 127.0.0.1:42001 (" << e.what()
                   << "); start this test through scripts/scratch-live";
        }

        QFile kmf(dir.filePath("Walk.kmf"));
        ASSERT_TRUE(kmf.open(QIODevice::WriteOnly));
        kmf.write("11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3\r\n"
                  "12,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3\r\n");
        kmf.close();
        // Three seconds a row: still playing when a Quit comes.
        QFile slow(dir.filePath("Slow.kmf"));
        ASSERT_TRUE(slow.open(QIODevice::WriteOnly));
        slow.write("21,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3000\r\n"
                   "22,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3000\r\n");
        slow.close();
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(("[REMOCON]\r\nButton3=" + dir.filePath("Walk.kmf") +
                   "\r\nButton4=" + dir.filePath("Slow.kmf") + "\r\n")
                      .toUtf8());
        ini.close();

        form = std::make_unique<TForm1>();
        access = std::make_unique<TForm1Access>(*form);
        form->show();

        sim = std::make_unique<SimProcess>(
            KOBITO_SIM_PATH, std::vector<std::string>{"--time-unit-ms", "1", "--record",
                                                      dir.filePath("rec").toStdString()});
        form->findChild<QComboBox*>("cbxComPort")
            ->setEditText(QString::fromStdString(sim->DevicePath()));
        QTest::mouseClick(form->findChild<TButton*>("btnConnect"), Qt::LeftButton);
        ASSERT_EQ(form->findChild<TButton*>("btnConnect")->text(), "切断 Close");
    }

    void TearDown() override {
        if (form)
            form->findChild<TSwitch*>("swiScratch")->SetIsChecked(false);
        access.reset();
        form.reset();
        QFile::remove(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
    }

    QString Log() { return form->findChild<QPlainTextEdit*>("memLog")->toPlainText(); }

    // Switches the bridge on and waits until Scratch relays the probe's
    // broadcasts to the window: Scratch takes a waiting connection about
    // once per cycle of its own, so a harmless broadcast is repeated.
    void ConnectThroughScratch() {
        form->findChild<TSwitch*>("swiScratch")->SetIsChecked(true);
        ASSERT_EQ(form->findChild<QLabel*>("lblScratch")->text(), "Scratch 接続中")
            << Log().toStdString();
        EXPECT_TRUE(dialogs.shown.empty());
        const QString ping = "[SCRTCH/Recv] broadcast \"ping\"";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                Send("broadcast \"ping\"");
                return QTest::qWaitFor([&] { return Log().contains(ping); }, 200);
            },
            10000))
            << "Scratch never relayed to the window\n"
            << Log().toStdString();
        EXPECT_TRUE(Log().contains("[SCRTCH/Recv] ping unmatch"));
    }
    int Count(const QString& text) { return int(Log().count(text)); }

    // Runs the window's event loop until the probe has received a frame with
    // this text; every frame it received meanwhile is kept in `heard`.
    bool ProbeHears(const std::string& text, int ms) {
        return QTest::qWaitFor(
            [&] {
                std::string frame;
                while (probe.TryReadFrame(frame)) {
                    heard.push_back(frame);
                    if (frame == text)
                        return true;
                }
                return false;
            },
            ms);
    }
    // Takes what the probe has received by now into `heard`.
    void Drain() {
        std::string frame;
        while (probe.TryReadFrame(frame))
            heard.push_back(frame);
    }
    int Heard(const std::string& text) const {
        return int(std::count(heard.begin(), heard.end(), text));
    }

    void Send(const std::string& text) {
        probe.Write(int32_t(text.size()));
        probe.Write(text);
    }

    // Poses the robot received, as their first value.
    QStringList Poses() const {
        QFile f(dir.filePath("rec"));
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.contains(" RX #PS00A"))
                    out << QString::number(line.mid(line.indexOf("#PS00A") + 6, 3).toInt());
        return out;
    }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    kobito::TScratchClient probe;
    std::vector<std::string> heard;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1Access> access;
};

} // namespace

TEST_F(ScratchLive, ABroadcastThroughScratchPlaysTheSlotAndDoneComesBack) {
    auto* swi = form->findChild<TSwitch*>("swiScratch");
    ConnectThroughScratch();
    if (HasFatalFailure())
        return;

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Send(kWalk);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Count("[SCRTCH/Recv] Walk match") == round; }, 5000))
            << Log().toStdString();
        ASSERT_TRUE(ProbeHears(kDone, 5000)) << Log().toStdString();
        QTest::qWait(300);
        Drain();
        EXPECT_EQ(Heard(kDone), round) << "Done exactly once per play";
        EXPECT_EQ(Count("[SCRTCH/Send] broadcast \"Done\""), round);
        EXPECT_EQ(Poses().size(), 2 * round);
        EXPECT_TRUE(access->Executing()) << "holds after Done";
    }
    EXPECT_EQ(Poses(), QStringList({"11", "12", "11", "12"}));

    Send("broadcast \"Quit\"");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !access->Executing(); }, 5000));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] Quit match"));
    EXPECT_FALSE(Log().contains("通信エラー")) << Log().toStdString();
    EXPECT_TRUE(swi->IsChecked());

    // What the window and the probe heard from Scratch, for the record.
    for (const QString& line : Log().split('\n'))
        if (line.contains("[SCRTCH/"))
            std::printf("window: %s\n", qPrintable(line));
    for (const std::string& frame : heard)
        std::printf("probe:  %s\n", frame.c_str());

    swi->SetIsChecked(false);
    EXPECT_EQ(form->findChild<QLabel*>("lblScratch")->text(), "Scratch 未接続");
    EXPECT_TRUE(Log().contains("[SCRTCH/****] 切断"));
}

TEST_F(ScratchLive, QuitThroughScratchStopsAPlayingSlot) {
    ConnectThroughScratch();
    if (HasFatalFailure())
        return;
    Send("broadcast \"Slow\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses() == QStringList{"21"}; }, 5000))
        << Log().toStdString();
    ASSERT_TRUE(access->Executing());
    Send("broadcast \"Quit\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !access->Executing(); }, 5000)) << Log().toStdString();
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] Quit match"));
    EXPECT_EQ(form->findChild<TButton*>("btnRun")->text(), "実行 Run");
    // Nothing more goes to the robot, and no Done to Scratch.
    QTest::qWait(500);
    Drain();
    EXPECT_EQ(Poses(), QStringList{"21"});
    EXPECT_EQ(Heard(kDone), 0);
}

TEST_F(ScratchLive, ANameDifferingOnlyInLetterCasePlaysNothing) {
    ConnectThroughScratch();
    if (HasFatalFailure())
        return;
    Send("broadcast \"walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().contains("[SCRTCH/Recv] walk unmatch"); }, 5000))
        << Log().toStdString();
    QTest::qWait(300);
    EXPECT_FALSE(access->Executing());
    EXPECT_TRUE(Poses().isEmpty());
    EXPECT_FALSE(Log().contains("Walk match"));
}
