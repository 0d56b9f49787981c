// The settings file across a start and a shutdown of the window.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "FloatTrackBar.h"
#include "Switch.h"

#include "IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStringDecoder>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace {

QString IniPath() {
    return kobito::SettingsFilePath(QCoreApplication::applicationFilePath());
}

QByteArray Read() {
    QFile f(IniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QByteArray& bytes) {
    QFile f(IniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The file the program writes from nothing, with the given replacements.
QByteArray DefaultFile(const QByteArray& motor = "HEIGHT=10\r\nWIDTH=10\r\n",
                       const QByteArray& apply = "AUTOINCR=0\r\n") {
    QByteArray out;
    for (const char* s :
         {"HDY", "WTY", "RSR", "RSP", "RHG", "LSR", "LSP", "LHG", "RFY", "RFP", "LFY", "LFP"})
        out += QByteArray("[") + s + "]\r\nMIN=0\r\nMAX=180\r\n\r\n";
    out += "[MOTOR]\r\n" + motor + "\r\n[APPLY]\r\n" + apply + "\r\n[REMOCON]\r\n";
    for (int i = 1; i <= 15; ++i)
        out += "Button" + QByteArray::number(i) + "=\r\n";
    return out + "\r\n";
}

// Starts a window on the current file, lets the test look, and closes it.
template <class Look> void StartAndShutDown(Look look) {
    DialogDouble dialogs;
    auto form = std::make_unique<TForm1>();
    look(*form, dialogs);
    form.reset();
}

float Slider(TForm1& form, const char* name) {
    return form.findChild<TFloatTrackBar*>(name)->Value();
}

} // namespace

TEST(Settings, FirstStartWritesTheDefaultFile) {
    FreshSettings fresh;
    StartAndShutDown([](TForm1& form, DialogDouble& dialogs) {
        EXPECT_EQ(Slider(form, "trkMotorHeight"), 10.0f);
        EXPECT_EQ(Slider(form, "trkMotorWidth"), 10.0f);
        EXPECT_EQ(form.findChild<QLabel*>("lblAutoIncr")->text(), "OFF");
        EXPECT_TRUE(dialogs.shown.empty());
    });
    const QByteArray file = Read();
    EXPECT_EQ(file, DefaultFile());
    EXPECT_EQ(file.count("\r\n"), 72);
}

TEST(Settings, ValuesAreReadAndWrittenBackByTheRules) {
    struct Case {
        QByteArray input;
        float height;
        bool autoIncr;
        QByteArray motor; // the [MOTOR] and [APPLY] sections as written back
    };
    const Case cases[] = {
        {"[motor]\r\nheight = 20\r\n", 20, false, "[motor]\r\nHEIGHT=20\r\nWIDTH=10\r\n\r\n"},
        {"[MOTOR]\r\nHEIGHT=0x14\r\n", 20, false, "[MOTOR]\r\nHEIGHT=20\r\nWIDTH=10\r\n\r\n"},
        {"[MOTOR]\r\nHEIGHT=abc\r\n", 10, false, "[MOTOR]\r\nHEIGHT=10\r\nWIDTH=10\r\n\r\n"},
        {"[MOTOR]\r\nHEIGHT=40\r\n", 25, false, "[MOTOR]\r\nHEIGHT=25\r\nWIDTH=10\r\n\r\n"},
        {"[APPLY]\r\nAUTOINCR=2\r\n", 10, true, "[APPLY]\r\nAUTOINCR=1\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        FreshSettings fresh;
        Write(c.input);
        StartAndShutDown([&](TForm1& form, DialogDouble&) {
            EXPECT_EQ(Slider(form, "trkMotorHeight"), c.height);
            EXPECT_EQ(form.findChild<TSwitch*>("SwiAutoIncr")->IsChecked(), c.autoIncr);
        });
        // The section read stays first, spelt as it was; the others follow.
        const QByteArray out = Read();
        EXPECT_TRUE(out.startsWith(c.motor)) << out.toStdString();
        EXPECT_EQ(out.count("\r\n"), 72);
    }
}

TEST(Settings, UnknownSectionsSurviveAndTheFirstOfTwoIsUsed) {
    FreshSettings fresh;
    Write("; a comment\r\n[EXTRA]\r\nkey = value\r\nplain line\r\n[HDY]\r\nMIN=10\r\n"
          "[HDY]\r\nMIN=20\r\n");
    StartAndShutDown([](TForm1& form, DialogDouble&) {
        EXPECT_EQ(form.findChild<QTableWidget*>("grdRange")->item(0, 1)->text(), "10");
    });
    const QByteArray out = Read();
    EXPECT_TRUE(out.startsWith("[EXTRA]\r\nkey=value\r\nplain line\r\n\r\n"
                               "[HDY]\r\nMIN=10\r\nMAX=180\r\n\r\n[HDY]\r\nMIN=20\r\n\r\n[WTY]"))
        << out.toStdString();
    EXPECT_FALSE(out.contains("comment"));
}

TEST(Settings, TheEncodingFoundIsKept) {
    for (const QByteArray& mark : {QByteArray("\xEF\xBB\xBF"), QByteArray("\xFF\xFE")}) {
        FreshSettings fresh;
        const bool utf16 = mark.size() == 2;
        const QString text = "[MOTOR]\r\nWIDTH=30\r\n";
        Write(mark + (utf16
                          ? QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2)
                          : text.toUtf8()));
        StartAndShutDown(
            [](TForm1& form, DialogDouble&) { EXPECT_EQ(Slider(form, "trkMotorWidth"), 30.0f); });
        const QByteArray out = Read();
        ASSERT_TRUE(out.startsWith(mark));
        QStringDecoder decode(utf16 ? QStringDecoder::Utf16LE : QStringDecoder::Utf8);
        const QString decoded = decode(out.mid(mark.size()));
        EXPECT_TRUE(decoded.startsWith("[MOTOR]\r\nWIDTH=30\r\nHEIGHT=10\r\n")) << utf16;
    }
}

TEST(Settings, AnUnreadableFileGivesDefaultsAndIsLeftAlone) {
    FreshSettings fresh;
    // A folder where the file should be: it exists but cannot be read.
    ASSERT_TRUE(QDir().mkpath(IniPath()));
    StartAndShutDown([](TForm1& form, DialogDouble& dialogs) {
        const QStringList errors = dialogs.Texts(ShownDialog::Error);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(IniPath())) << errors[0].toStdString();
        EXPECT_EQ(Slider(form, "trkMotorHeight"), 10.0f);
    });
    EXPECT_TRUE(QFileInfo(IniPath()).isDir());
    QDir().rmdir(IniPath());
}
