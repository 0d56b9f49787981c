// The window's robot link end to end: the simulator on a real pseudo-terminal,
// opened by its typed path; commands, replies, the log and the console.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"
#include "EditBox.h"
#include "SerialBackend.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kobito::test::SimProcess;

namespace {

class RobotLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form.show();
        QApplication::setActiveWindow(&form);
    }

    template <class T = QWidget> T* Find(const char* name) {
        auto* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::unique_ptr<SimProcess> StartSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--record", RecordPath().toStdString()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<SimProcess>(KOBITO_SIM_PATH, args);
        EXPECT_FALSE(sim->DevicePath().empty());
        return sim;
    }

    QString RecordPath() const { return dir.filePath("record.txt"); }

    // The commands the simulator received, in order.
    QStringList Received() const {
        QFile f(RecordPath());
        QStringList commands;
        if (!f.open(QIODevice::ReadOnly))
            return commands;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const int rx = line.indexOf(" RX ");
            if (rx >= 0)
                commands << QString::fromLatin1(line.mid(rx + 4));
        }
        return commands;
    }

    void Connect(const std::string& path) {
        auto* port = Find<QComboBox>("cbxComPort");
        port->setEditText(QString::fromStdString(path));
        QTest::mouseClick(Find<QPushButton>("btnConnect"), Qt::LeftButton);
    }

    QString Log() { return Find<QPlainTextEdit>("memLog")->toPlainText(); }

    bool WaitForLog(const QString& text, int ms = 3000) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, ms);
    }

    void SendConsole(const QString& command) {
        TabTo(form, "tabLog");
        Find<TEditBox>("edtCommand")->setText(command);
        QTest::mouseClick(Find<QPushButton>("btnSendCommand"), Qt::LeftButton);
    }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
};

} // namespace

TEST_F(RobotLink, ConsoleAndTestReachTheRobotAndRepliesAreLogged) {
    auto sim = StartSim();
    Connect(sim->DevicePath());
    ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text.toStdString();
    EXPECT_EQ(Find<QPushButton>("btnConnect")->text(), "切断 Close");
    EXPECT_TRUE(WaitForLog("[KOBITO/Open] 接続完了"));
    for (const char* name : {"btnRun", "btnSendCommand", "btnTest"})
        EXPECT_TRUE(Find(name)->isEnabled()) << name;
    EXPECT_FALSE(Find("cbxComPort")->isEnabled());
    EXPECT_FALSE(Find("cbxCombaud")->isEnabled());

    SendConsole("#Q");
    EXPECT_TRUE(WaitForLog("[KOBITO/Send] #Q\n"));
    EXPECT_TRUE(WaitForLog("[KOBITO/Recv] #QPT000"));
    EXPECT_TRUE(Find<TEditBox>("edtCommand")->Text().isEmpty());

    QTest::mouseClick(Find<QPushButton>("btnTest"), Qt::LeftButton);
    const QString pose = "#PS00A090S01A090S02A000S03A130S04A090S05A180S06A050S07A090"
                         "S08A090S09A090S10A090S11A090R000G000B255T010";
    EXPECT_TRUE(WaitForLog("[KOBITO/Send] " + pose)) << Log().toStdString();
    for (const ShownDialog& d : dialogs.shown)
        ADD_FAILURE() << "dialog: " << d.text.toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Received() == QStringList({"#Q", pose});
        },
        3000))
        << Received().join(", ").toStdString();

    QTest::mouseClick(Find<QPushButton>("btnConnect"), Qt::LeftButton);
    EXPECT_TRUE(WaitForLog("[KOBITO/****] 切断"));
    EXPECT_EQ(Find<QPushButton>("btnConnect")->text(), "接続 Open");
    for (const char* name : {"btnRun", "btnSendCommand", "btnTest"})
        EXPECT_FALSE(Find(name)->isEnabled()) << name;
    EXPECT_TRUE(Find("cbxComPort")->isEnabled());
}

TEST_F(RobotLink, AMissingDeviceIsShownAndThePortStaysClosed) {
    const std::string missing = dir.filePath("no-such-tty").toStdString();
    Connect(missing);
    // The message names the device path (on Windows with its "\\.\" prefix).
    EXPECT_EQ(dialogs.Texts(ShownDialog::Exception),
              QStringList{QString::fromStdString("Specified device not found (" +
                                                 kobito::PlatformDevicePath(missing) + ").")});
    EXPECT_EQ(Find<QPushButton>("btnConnect")->text(), "接続 Open");
    EXPECT_FALSE(Find("btnRun")->isEnabled());
    EXPECT_FALSE(Log().contains("接続完了"));
}

TEST_F(RobotLink, ATypedPortIsUsedAsTypedAndNeverJoinsTheList) {
    auto* port = Find<QComboBox>("cbxComPort");
    const QString typed = dir.filePath("tty1");
    // A port found at start-up whose name begins with what is typed.
    port->addItem(dir.filePath("tty10"));
    const int found = port->count();
    for (const QString& text : {typed, dir.filePath("ttyy")}) {
        SCOPED_TRACE(text.toStdString());
        port->lineEdit()->clear();
        port->lineEdit()->setFocus();
        QTest::keyClicks(port->lineEdit(), text);
        EXPECT_EQ(port->currentText(), text) << "completed inline";
        QTest::keyClick(port->lineEdit(), Qt::Key_Return);
        EXPECT_EQ(port->currentText(), text);
        EXPECT_EQ(port->count(), found) << "a typed entry was added to the list";
    }
    port->setEditText(typed);
    QTest::mouseClick(Find<QPushButton>("btnConnect"), Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(ShownDialog::Exception),
              QStringList{"Specified device not found (" +
                          QString::fromStdString(kobito::PlatformDevicePath(typed.toStdString())) +
                          ")."});
}

TEST_F(RobotLink, AnEmptyPortBoxSaysThereIsNoPort) {
    Connect("");
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList{"有効な通信ポートがありません\r\nNo Com port available"});
}

TEST_F(RobotLink, LogLinesCarryStampSourceAndKindAndKeepLineBreaksUnderOneStamp) {
    TForm1Access access(form);
    access.AddLog(LogRobot, LogSend, "");
    access.AddLog(LogScratch, LogRecv, "a\r\nb");
    access.AddLog(7, 9, "x");
    const QStringList lines = Log().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(" [KOBITO/Send] ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" [SCRTCH/Recv] a"));
    EXPECT_EQ(lines[2], "b");
    EXPECT_TRUE(lines[3].endsWith(" [******/****] x"));
    const QString stamp = lines[0].left(lines[0].indexOf(" ["));
    EXPECT_TRUE(stamp.contains(' ')) << "date and time";

    // At exactly midnight the stamp is the date alone.
    const QDateTime midnight(QDate(2014, 3, 17), QTime(0, 0));
    const QString date = TForm1Access::LogStamp(midnight);
    const QString later = TForm1Access::LogStamp(midnight.addSecs(1));
    EXPECT_TRUE(later.startsWith(date + ' ')) << later.toStdString();
    EXPECT_GT(later.size(), date.size() + 4);
}

TEST_F(RobotLink, TheWordListComposesCommands) {
    auto* list = Find<QListWidget>("lbxCommandList");
    ASSERT_EQ(list->count(), 52);
    QStringList words;
    for (int i = 0; i < list->count(); ++i)
        words << list->item(i)->text();
    EXPECT_EQ(words.mid(0, 13).join(' '), "#M0 #M1 #M2 #M3 #M4 #M5 #M6 #M7 #M8 #M9 #Q #C #P");
    EXPECT_EQ(words.mid(13, 7).join(' '), "S A T R G B T");
    EXPECT_EQ(words.mid(20, 14).join(' '), "00 01 02 03 04 05 06 07 08 09 10 11 255 001");
    EXPECT_EQ(words.mid(34).join(' '),
              "010 020 030 040 050 060 070 080 090 100 110 120 130 140 150 160 170 180");

    TabTo(form, "tabLog");
    auto click = [&](const char* word) {
        const auto items = list->findItems(word, Qt::MatchExactly);
        ASSERT_FALSE(items.isEmpty());
        list->scrollToItem(items.first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.first()).center());
    };
    for (const char* word : {"#P", "S", "00", "A", "090", "T", "010", "010"})
        click(word);
    auto* edit = Find<TEditBox>("edtCommand");
    EXPECT_EQ(edit->Text(), "#PS00A090T010010");
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_FALSE(edit->hasSelectedText());
}
