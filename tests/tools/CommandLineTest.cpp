// kobito-motion's and kobito-sim's command lines, run as real processes with
// a desktop session's environment stripped down to what each case gives.
#include "WineEnvironment.h"
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    const char* program;
    QStringList arguments;
    int exitCode;
    const char* out; // expected in standard output ("" for nothing at all)
    const char* err; // expected in standard error ("" for nothing at all)
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// Neither a display nor a platform: what prints and exits must not need one.
QProcessEnvironment Headless() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, PrintsAndExits) {
    const Case& c = GetParam();
    QProcess p;
    p.setProcessEnvironment(Headless());
    p.start(QString::fromLatin1(c.program), c.arguments);
    ASSERT_TRUE(p.waitForStarted());
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        FAIL() << "still running after 10 s: it started instead of exiting";
    }
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.exitCode);
    // Windows' C library writes text with CR LF.
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).replace("\r\n", "\n");
    const QString err = QString::fromUtf8(p.readAllStandardError()).replace("\r\n", "\n");
    if (*c.out == '\0')
        EXPECT_EQ(out, "");
    else
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.out))) << out.toStdString();
    if (*c.err == '\0')
        EXPECT_EQ(err, "");
    else
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.err))) << err.toStdString();
}

const char kMotion[] = KOBITO_MOTION_PATH;
#ifndef _WIN32
const char kSim[] = KOBITO_SIM_PATH;
#endif

const Case kCases[] = {
    Case{"MotionHelp", kMotion, {"--help"}, 0, "Usage: kobito-motion [OPTION]... [FILE]\n", ""},
    Case{"MotionShortHelp", kMotion, {"-h"}, 0, "--version", ""},
    Case{"MotionHelpAfterQtOption", kMotion, {"-platform", "xcb", "--help"}, 0, "Usage:", ""},
    Case{"MotionVersion", kMotion, {"--version"}, 0, "KOBITO Motion 1.10\n", ""},
    Case{"MotionShortVersion", kMotion, {"-v"}, 0, "KOBITO Motion 1.10\n", ""},
    Case{"MotionUnknownOption",
         kMotion,
         {"--bogus", "walk.kmf"},
         2,
         "",
         "Unknown option 'bogus'.\nUsage: kobito-motion [OPTION]... [FILE]\n"},
    Case{"MotionTwoFiles", kMotion, {"a.kmf", "b.kmf"}, 2, "", "one motion file at most"},
    Case{"MotionQtOptionWithoutValue", kMotion, {"-style"}, 2, "", "Usage: kobito-motion"}
#ifndef _WIN32
    ,
    Case{"SimHelp", kSim, {"--help"}, 0, "Usage: kobito-sim [OPTION]...\n", ""},
    Case{"SimShortHelp", kSim, {"-h"}, 0, "--version", ""},
    Case{"SimVersion", kSim, {"--version"}, 0, "kobito-sim (KOBITO Motion) 1.10\n", ""},
    Case{"SimUnknownOption",
         kSim,
         {"--bogus"},
         2,
         "",
         "unknown option --bogus\nUsage: kobito-sim [OPTION]...\n"}
#endif
};

INSTANTIATE_TEST_SUITE_P(Programs, CommandLine, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// A motion file and Qt's own options start the window rather than being
// refused: it is still up after a second.
TEST(MotionCommandLine, AFileStartsTheWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("walk.kmf"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10\r\n");
    f.close();

    QProcess p;
    p.setProcessEnvironment(Headless());
    p.start(QString::fromLatin1(kMotion), {"-platform", "offscreen", file});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_FALSE(p.waitForFinished(1000)) << p.readAllStandardError().toStdString();
    p.kill();
    p.waitForFinished();
}

} // namespace

int main(int argc, char** argv) {
    kobito::test::RestoreQtEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
