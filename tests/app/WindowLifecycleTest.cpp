// Start-up state, the close rule, the exit button and the general exception
// display.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "Handler.h"
#include "uMain.h"

#include "Button.h"
#include "EditBox.h"
#include "FloatTrackBar.h"
#include "MotionTable.h"

#include "Channels.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace {

const QString kDiscard =
    QStringLiteral("変更されたデータを破棄しますか？\r\nDiscard current data ?");

class WindowLifecycle : public ::testing::Test {
protected:
    FreshSettings fresh;
    DialogDouble dialogs;
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>();
    TForm1Access access{*form};

    template <class T = QWidget> T* Find(const char* name) {
        auto* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

} // namespace

TEST_F(WindowLifecycle, StartUpState) {
    EXPECT_EQ(form->windowTitle(), "KOBITO Motion Version 1.10");
    EXPECT_EQ(Find<QTabWidget>("TabControl")->currentWidget()->objectName(), "tabGrid");
    for (const char* name : {"btnSendCommand", "btnTest", "btnRun"})
        EXPECT_FALSE(Find(name)->isEnabled()) << name;
    for (int k = 0; k < RemoteSlotCount; ++k) {
        EXPECT_FALSE(access.dim_Remos()[size_t(k)]->isEnabled());
        EXPECT_TRUE(access.dim_Remos()[size_t(k)]->text().isEmpty());
        EXPECT_TRUE(access.dim_Remos_del()[size_t(k)]->isHidden());
        EXPECT_EQ(access.dim_Remos_del()[size_t(k)]->text(), "X");
    }
    for (int k = 0; k < kobito::ChannelCount; ++k) {
        SCOPED_TRACE(k);
        const int expected = kobito::StartupValues[size_t(k)];
        EXPECT_EQ(access.dim_track_bar()[size_t(k)]->Value(), float(expected));
        EXPECT_EQ(access.dim_edit()[size_t(k)]->Text(), QString::number(expected));
    }
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(access.motionModel()->headerData(0, Qt::Horizontal).toString(), "");
    EXPECT_EQ(Find<QLabel>("lblAutoIncr")->text(), "OFF");
    EXPECT_EQ(Find<QLabel>("lblControlMode")->text(), "操作モード( Operation mode )");
    EXPECT_EQ(Find<QLabel>("lblScratch")->text(), "Scratch 未接続");
    EXPECT_EQ(Find<QAbstractButton>("btnClearLog")->text(), "通信ログの消去\r\nClear log");
    EXPECT_EQ(Find<QAbstractButton>("btnClearCommand")->text(), "コマンドの消去\r\nClear command");
    EXPECT_EQ(access.DefaultColor(), 0xFF800080u);
    EXPECT_EQ(access.GrdRangeFullW(), 184.0f);
    EXPECT_TRUE(access.IniFilename().endsWith("/test_app.ini"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(WindowLifecycle, RegistriesFollowChannelOrderWithTheirTags) {
    for (int k = 0; k < kobito::ChannelCount; ++k) {
        const QString name = QString::fromLatin1(kobito::ChannelNames[size_t(k)].data(), 3);
        EXPECT_EQ(access.dim_edit()[size_t(k)]->objectName(), "edt" + name);
        EXPECT_EQ(access.dim_track_bar()[size_t(k)]->objectName(), "trk" + name);
        EXPECT_EQ(access.dim_edit()[size_t(k)]->Tag(), k);
        EXPECT_EQ(access.dim_track_bar()[size_t(k)]->Tag(), k);
    }
    const char* combos[12] = {"cbxQuickHDY", "cbxQuickWTY", "cbxQuickRSR", "cbxQuickRSP",
                              "cbxQuickRHG", "cbxQUickLSR", "cbxQUickLSP", "cbxQuickLHG",
                              "cbxQuickRFY", "cbxQuickRFP", "cbxQuickLFY", "cbxQUickLFP"};
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(access.Quick1Combos()[size_t(k)]->objectName(), combos[k]);
    for (int k = 12; k < 15; ++k)
        EXPECT_EQ(access.Quick1Combos()[size_t(k)]->objectName(), "cbxQuickEye");
    for (int k = 0; k < RemoteSlotCount; ++k) {
        const QString number = QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0'));
        EXPECT_EQ(access.dim_Remos()[size_t(k)]->objectName(), "btnRemote" + number);
        EXPECT_EQ(access.dim_Remos_del()[size_t(k)]->objectName(), "btnRemote" + number + "_del");
        EXPECT_EQ(access.dim_Remos()[size_t(k)]->Tag(), k);
        EXPECT_EQ(access.dim_Remos_del()[size_t(k)]->Tag(), k);
        EXPECT_TRUE(access.dim_Remos_SL()[size_t(k)] &&
                    access.dim_Remos_SL()[size_t(k)]->isEmpty());
        EXPECT_TRUE(access.dim_Remos_path()[size_t(k)].isEmpty());
    }
    const char* gaits[4] = {"btnQuickForward", "btnQuickBackward", "btnQuickTurnRight",
                            "btnQuickTurnLeft"};
    for (int g = 0; g < 4; ++g)
        for (int s = 0; s < 6; ++s) {
            TButton* b = access.walkingButtons()[size_t(g)][size_t(s)];
            EXPECT_EQ(b->objectName(), QString(gaits[g]) + QString::number(s + 1));
            EXPECT_EQ(b->Tag(), (g + 1) * 10 + s + 1);
        }
}

TEST_F(WindowLifecycle, ClosingAnUnmodifiedTableAsksNothing) {
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(access.IsDestroyed());
}

TEST_F(WindowLifecycle, ClosingAModifiedTableAsksAndNoKeepsEverything) {
    form->show();
    access.SetDataChanged(true);
    access.SelectRow(7);
    dialogs.yesNoAnswers = {false};
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(access.DataChanged());
    EXPECT_EQ(access.motionModel()->headerData(0, Qt::Horizontal).toString(), "***");
    EXPECT_EQ(access.SelectedRow(), 7);
    EXPECT_FALSE(access.IsDestroyed());
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo), QStringList{kDiscard});

    EXPECT_FALSE(QFile::exists(access.IniFilename()));

    dialogs.yesNoAnswers = {true};
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(access.IsDestroyed());
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), 2);
    // The shutdown wrote the settings file.
    QFile ini(access.IniFilename());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().startsWith("[HDY]\r\nMIN=0\r\nMAX=180\r\n\r\n[WTY]"));
}

TEST_F(WindowLifecycle, ExitButtonTakesTheSamePathAsTheCloseBox) {
    form->show();
    access.SetDataChanged(true);
    auto* exit = Find<QPushButton>("btnFileExit");
    dialogs.yesNoAnswers = {false};
    QTest::mouseClick(exit, Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
    dialogs.yesNoAnswers = {true};
    QTest::mouseClick(exit, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(access.IsDestroyed());
}

TEST_F(WindowLifecycle, AnExceptionInAButtonHandlerIsShownAndTheProgramGoesOn) {
    form->show();
    auto* button = Find<QPushButton>("btnRowEdit");
    OnEvent(button, &QPushButton::clicked, form.get(),
            [] { throw std::runtime_error("Output buffer is full. Please check comm status."); });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(ShownDialog::Exception),
              QStringList{"Output buffer is full. Please check comm status."});
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(button->isDown());
    // The window still answers.
    QTest::mouseClick(Find<QPushButton>("btnRowClear"), Qt::LeftButton);
    EXPECT_TRUE(access.DataChanged());
}

TEST(ExceptionDisplay, AnExceptionEscapingAnyEventHandlerIsShown) {
    DialogDouble dialogs;
    struct Thrower : QObject {
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User)
                throw std::runtime_error("handler failed");
            return QObject::event(e);
        }
    } thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.Texts(ShownDialog::Exception), QStringList{"handler failed"});
}
