// The fifteen remote-controller slots in setup and operation mode.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "IniFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kobito::test::SimProcess;

namespace {

const QString kNoData = "実行するデータがありません\r\nNo data available";

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = std::make_unique<TForm1>();
        access = std::make_unique<TForm1Access>(*form);
        form->show();
    }
    TButton* Slot(int k) { return access->dim_Remos()[size_t(k)]; }
    TButton* Del(int k) { return access->dim_Remos_del()[size_t(k)]; }
    TSwitch* Mode() { return form->findChild<TSwitch*>("swiControlMode"); }
    void Press(QAbstractButton* b) {
        TabTo(*form, "TabItem4");
        QTest::mouseClick(b, Qt::LeftButton);
    }
    QString File(const char* name, const QByteArray& content) {
        const QString path = QDir::toNativeSeparators(dir.filePath(name));
        WriteFile(path, content);
        return path;
    }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1Access> access;
};

} // namespace

TEST_F(Controller, ModesShowDeleteButtonsAndEnableSlots) {
    for (int k = 0; k < RemoteSlotCount; ++k) {
        EXPECT_FALSE(Slot(k)->isEnabled());
        EXPECT_TRUE(Del(k)->isHidden());
    }
    Mode()->SetIsChecked(true);
    EXPECT_EQ(form->findChild<QLabel*>("lblControlMode")->text(), "設定モード( Setup mode )");
    for (int k = 0; k < RemoteSlotCount; ++k) {
        EXPECT_TRUE(Slot(k)->isEnabled());
        EXPECT_FALSE(Del(k)->isHidden());
    }
    // An empty slot: "X" changes nothing, a press asks for a file; cancel keeps it empty.
    Press(Del(3));
    dialogs.fileAnswers = {std::nullopt};
    Press(Slot(3));
    EXPECT_EQ(dialogs.Texts(ShownDialog::File), QStringList{"Open KOBITO motion file"});
    EXPECT_TRUE(access->dim_Remos_path()[3].isEmpty());
}

TEST_F(Controller, AssigningCaptionsTheSlotWithTheFileName) {
    Mode()->SetIsChecked(true);
    struct Case {
        const char* file;
        const char* caption;
    };
    for (const Case& c :
         {Case{"wave.hand.kmf", "wave.hand"}, Case{".kmf", ""}, Case{"Walk.kmf", "Walk"}}) {
        const QString path = File(c.file, "10,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n");
        dialogs.fileAnswers = {path};
        Press(Slot(0));
        EXPECT_EQ(Slot(0)->text(), c.caption);
        EXPECT_EQ(access->dim_Remos_path()[0], path);
        EXPECT_EQ(access->dim_Remos_SL()[0]->size(), 1);
    }
    // Cancelling keeps the assignment; "X" empties the slot.
    dialogs.fileAnswers = {std::nullopt};
    Press(Slot(0));
    EXPECT_EQ(Slot(0)->text(), "Walk");
    Press(Del(0));
    EXPECT_EQ(Slot(0)->text(), "");
    EXPECT_TRUE(access->dim_Remos_path()[0].isEmpty());
    EXPECT_TRUE(access->dim_Remos_SL()[0]->isEmpty());
}

TEST_F(Controller, AnAmpersandInAFileNameIsShownAndMakesNoShortcut) {
    Mode()->SetIsChecked(true);
    TabTo(*form, "TabItem4");
    QApplication::setActiveWindow(form.get());
    for (const char* name : {"R&D.kmf", "a&&b.kmf", "end&.kmf"}) {
        SCOPED_TRACE(name);
        dialogs.fileAnswers = {File(name, "10,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n")};
        Press(Slot(0));
        const QString caption = QString::fromUtf8(name).chopped(4);
        EXPECT_EQ(Slot(0)->Caption(), caption);
    }
    dialogs.fileAnswers = {File("R&D.kmf", "10,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n")};
    Press(Slot(0));
    // Alt+D would have pressed the slot (and asked for its file in setup mode).
    QTest::keyClick(form.get(), Qt::Key_D, Qt::AltModifier);
    EXPECT_FALSE(Slot(0)->isDown());
    EXPECT_EQ(dialogs.Texts(ShownDialog::File).size(), 4);
    EXPECT_EQ(dialogs.unexpected, 0);
    // What the button paints is the name as it is.
    EXPECT_EQ(Slot(0)->Caption(), "R&D");
}

TEST_F(Controller, AnUnreadableSlotFileIsReportedButKeepsPathAndCaption) {
    Mode()->SetIsChecked(true);
    const QString missing = QDir::toNativeSeparators(dir.filePath("gone.kmf"));
    dialogs.fileAnswers = {missing};
    Press(Slot(2));
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList{"ファイル読み込みエラー\r\nFile read error\r\n\r\n" + missing});
    EXPECT_EQ(Slot(2)->text(), "gone");
    EXPECT_EQ(access->dim_Remos_path()[2], missing);
}

TEST_F(Controller, StoredSlotsAreReadAtStartUpAndPlayTheirLinesUntilReload) {
    const QString a = File("Walk.kmf", "11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n");
    const QString b = File("Wave.kmf", "22,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n");
    const QString c = File("Bow.kmf", "");
    {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(("[REMOCON]\r\nButton1=" + a + "\r\nButton5=" + b + "\r\nButton15=" + c + "\r\n")
                      .toUtf8());
    }
    SetUp(); // a new window reads the stored slots
    EXPECT_EQ(Slot(0)->text(), "Walk");
    EXPECT_EQ(Slot(4)->text(), "Wave");
    EXPECT_EQ(Slot(14)->text(), "Bow");
    EXPECT_EQ(Slot(1)->text(), "");
    for (int k = 0; k < RemoteSlotCount; ++k)
        EXPECT_FALSE(Slot(k)->isEnabled());

    // Lines are kept from the read: a later change on disk needs Reload.
    WriteFile(a, "33,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n");
    EXPECT_EQ(access->dim_Remos_SL()[0]->front(), "11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5");
    Press(form->findChild<TButton*>("btnReload"));
    EXPECT_EQ(access->dim_Remos_SL()[0]->front(), "33,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5");

    // At shutdown the paths are written back.
    form.reset();
    QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(ini.readAll());
    // Keys already in the file keep their places; the others are appended.
    EXPECT_TRUE(saved.contains("[REMOCON]\r\nButton1=" + a + "\r\nButton5=" + b +
                               "\r\nButton15=" + c + "\r\nButton2=\r\n"))
        << saved.toStdString();
}

TEST_F(Controller, PressingASlotReplacesTheTableAndRestartsPlayback) {
    auto sim = std::make_unique<SimProcess>(KOBITO_SIM_PATH,
                                            std::vector<std::string>{"--time-unit-ms", "1"});
    form->findChild<QComboBox*>("cbxComPort")
        ->setEditText(QString::fromStdString(sim->DevicePath()));
    QTest::mouseClick(form->findChild<TButton*>("btnConnect"), Qt::LeftButton);
    ASSERT_TRUE(Slot(0)->isEnabled()) << "the port is open";

    Mode()->SetIsChecked(true);
    dialogs.fileAnswers = {File("One.kmf", "11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n"),
                           File("Two.kmf", "22,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n"
                                           "23,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n"),
                           File("None.kmf", "")};
    Press(Slot(0));
    Press(Slot(1));
    Press(Slot(2));
    Mode()->SetIsChecked(false);

    Press(Slot(0));
    EXPECT_TRUE(access->Executing());
    EXPECT_EQ(access->Cell(0, 1), "11");
    EXPECT_FALSE(access->DataChanged());

    // While it plays, a modified table makes the next slot ask first.
    access->SetDataChanged(true);
    dialogs.yesNoAnswers = {false};
    Press(Slot(1));
    EXPECT_EQ(access->Cell(0, 1), "11");
    dialogs.yesNoAnswers = {true};
    Press(Slot(1));
    EXPECT_EQ(access->Cell(0, 1), "22");
    EXPECT_EQ(access->Cell(1, 1), "23");
    EXPECT_TRUE(access->Executing());
    // The new motion starts over: row 0 goes on the next tick.
    EXPECT_EQ(access->Playback().NextMotion, 0);
    EXPECT_TRUE(access->Playback().MotionDone);
    EXPECT_TRUE(QTest::qWaitFor([&] { return access->Playback().NextMotion == 1; }, 1000));
    EXPECT_EQ(access->SelectedRow(), 0);

    // Deleting the playing slot leaves the playback alone.
    Mode()->SetIsChecked(true);
    Press(Del(1));
    EXPECT_TRUE(access->Executing());
    EXPECT_EQ(access->Cell(0, 1), "22");
    Mode()->SetIsChecked(false);

    // A slot without lines clears the table and ends in the no-data error.
    Press(Slot(2));
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error), QStringList{kNoData});
    EXPECT_FALSE(access->Executing());
    EXPECT_EQ(access->RowText(0), "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_FALSE(access->DataChanged());

    // A press on an empty slot in operation mode does nothing.
    Press(Slot(9));
    EXPECT_EQ(dialogs.Texts(ShownDialog::File).size(), 3);
}
