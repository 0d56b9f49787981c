#include "IniFile.h"
#include "Channels.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#ifdef Q_OS_WIN
#include "WindowsFiles.h"
#endif
#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kobito {
namespace {

using namespace test;
using namespace Qt::StringLiterals;
using L = QStringList;

QByteArray Crlf(const L& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

QString Name(int k) {
    const std::string_view name = ChannelNames[std::size_t(k)];
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

// What the window writes at shutdown, in the order of the key table.
void WriteAllKeys(IniFile& ini, int height = 10, int width = 10, bool autoIncrement = false) {
    for (int k = 0; k < ServoCount; ++k) {
        ini.WriteString(Name(k), u"MIN"_s, u"0"_s);
        ini.WriteString(Name(k), u"MAX"_s, u"180"_s);
    }
    ini.WriteInteger(u"MOTOR"_s, u"HEIGHT"_s, height);
    ini.WriteInteger(u"MOTOR"_s, u"WIDTH"_s, width);
    ini.WriteBool(u"APPLY"_s, u"AUTOINCR"_s, autoIncrement);
    for (int i = 1; i <= 15; ++i)
        ini.WriteString(u"REMOCON"_s, u"Button%1"_s.arg(i), QString());
}

TEST(IniFile, FirstStartWritesTheSeventyTwoLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"Motion.ini"_s);
    IniFile ini(path);
    EXPECT_FALSE(ini.readFailed());
    EXPECT_EQ(ini.encoding(), TextEncoding::Default8Bit);
    EXPECT_EQ(ini.ReadString(u"HDY"_s, u"MIN"_s, u"0"_s), u"0"_s);
    EXPECT_EQ(ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, 10), 10);
    EXPECT_FALSE(ini.ReadBool(u"APPLY"_s, u"AUTOINCR"_s, false));
    WriteAllKeys(ini);
    EXPECT_EQ(ini.UpdateFile(), QString());

    // clang-format off
    const L expected{
        "[HDY]", "MIN=0", "MAX=180", "",
        "[WTY]", "MIN=0", "MAX=180", "",
        "[RSR]", "MIN=0", "MAX=180", "",
        "[RSP]", "MIN=0", "MAX=180", "",
        "[RHG]", "MIN=0", "MAX=180", "",
        "[LSR]", "MIN=0", "MAX=180", "",
        "[LSP]", "MIN=0", "MAX=180", "",
        "[LHG]", "MIN=0", "MAX=180", "",
        "[RFY]", "MIN=0", "MAX=180", "",
        "[RFP]", "MIN=0", "MAX=180", "",
        "[LFY]", "MIN=0", "MAX=180", "",
        "[LFP]", "MIN=0", "MAX=180", "",
        "[MOTOR]", "HEIGHT=10", "WIDTH=10", "",
        "[APPLY]", "AUTOINCR=0", "",
        "[REMOCON]",
        "Button1=", "Button2=", "Button3=", "Button4=", "Button5=",
        "Button6=", "Button7=", "Button8=", "Button9=", "Button10=",
        "Button11=", "Button12=", "Button13=", "Button14=", "Button15=",
        ""};
    // clang-format on
    ASSERT_EQ(expected.size(), 72);
    EXPECT_EQ(ReadBytes(path), Crlf(expected));
    EXPECT_EQ(Entries(dir.path()), L{"Motion.ini"});
}

// The bytes of a literal, NULs inside included.
template <std::size_t N> QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, qsizetype(N - 1));
}

QByteArray Marked(const QByteArray& utf8, QStringConverter::Encoding encoding) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(utf8));
}

struct Write {
    const char* section;
    const char* key;
    const char* value;
};

// Text in the default 8-bit code page: UTF-8 on Linux, Shift-JIS on a
// Japanese Windows.
QByteArray Ansi(const char* utf8) {
    return QStringEncoder(QStringConverter::System).encode(QString::fromUtf8(utf8));
}

struct RewriteCase {
    const char* name;
    QByteArray input;
    std::vector<Write> writes;
    QByteArray output;
};

class IniRewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(IniRewriteTest, WritesTheFileBack) {
    const RewriteCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"settings.ini"_s);
    if (!c.input.isNull())
        WriteBytes(path, c.input);
    IniFile ini(path);
    ASSERT_FALSE(ini.readFailed()) << ini.readError().toStdString();
    for (const Write& w : c.writes)
        ini.WriteString(QString::fromUtf8(w.section), QString::fromUtf8(w.key),
                        QString::fromUtf8(w.value));
    EXPECT_EQ(ini.toBytes(), c.output);
    ASSERT_EQ(ini.UpdateFile(), QString());
    EXPECT_EQ(ReadBytes(path), c.output);
}

const QByteArray Utf8Mark = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Table, IniRewriteTest,
    ::testing::Values(
        RewriteCase{"NoFile", QByteArray(), {{"A", "k", "v"}}, "[A]\r\nk=v\r\n\r\n"},
        RewriteCase{"MotorInLowerCase",
                    "[motor]\r\nheight = 20\r\n",
                    {{"MOTOR", "HEIGHT", "20"}, {"MOTOR", "WIDTH", "10"}},
                    "[motor]\r\nHEIGHT=20\r\nWIDTH=10\r\n\r\n"},
        RewriteCase{"CommentsBlanksAndLinesBeforeTheFirstSectionDropped",
                    "; top\r\norphan=1\r\n\r\n[A]\r\n; c\r\n  k = v  \r\n\r\nnoequals\r\n\t;x\r\n",
                    {},
                    "[A]\r\nk=v\r\nnoequals\r\n\r\n"},
        RewriteCase{"ExtraSectionKeptInItsPlace",
                    "[HDY]\r\nMIN=5\r\nMAX=100\r\n[EXTRA]\r\nfoo = bar\r\nBaz=1\r\n"
                    "[MOTOR]\r\nHEIGHT=12\r\n",
                    {{"HDY", "MIN", "5"},
                     {"HDY", "MAX", "100"},
                     {"MOTOR", "HEIGHT", "12"},
                     {"MOTOR", "WIDTH", "10"},
                     {"APPLY", "AUTOINCR", "0"}},
                    "[HDY]\r\nMIN=5\r\nMAX=100\r\n\r\n[EXTRA]\r\nfoo=bar\r\nBaz=1\r\n\r\n"
                    "[MOTOR]\r\nHEIGHT=12\r\nWIDTH=10\r\n\r\n[APPLY]\r\nAUTOINCR=0\r\n\r\n"},
        RewriteCase{"SecondSectionOfTheSameNameAsRead",
                    "[HDY]\r\nMIN=1\r\nMAX=2\r\n[hdy]\r\nMIN=3\r\nMAX=4\r\n",
                    {{"HDY", "MIN", "7"}, {"HDY", "MAX", "8"}},
                    "[HDY]\r\nMIN=7\r\nMAX=8\r\n\r\n[hdy]\r\nMIN=3\r\nMAX=4\r\n\r\n"},
        RewriteCase{"NewSectionAtTheEnd",
                    "[A]\r\nx=1\r\n",
                    {{"B", "y", "2"}},
                    "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n\r\n"},
        RewriteCase{"NewKeyAtTheEndOfItsSection",
                    "[A]\r\nx=1\r\n[B]\r\nz=3\r\n",
                    {{"a", "Y", "2"}},
                    "[A]\r\nx=1\r\nY=2\r\n\r\n[B]\r\nz=3\r\n\r\n"},
        RewriteCase{"ReplacedLineTakesTheProgramsSpelling",
                    "[apply]\r\nautoincr=2\r\nother=x\r\n",
                    {{"APPLY", "AUTOINCR", "1"}},
                    "[apply]\r\nAUTOINCR=1\r\nother=x\r\n\r\n"},
        RewriteCase{"FirstOfTwoEqualKeysReplaced",
                    "[A]\r\nk=1\r\nK=2\r\n",
                    {{"A", "K", "9"}},
                    "[A]\r\nK=9\r\nK=2\r\n\r\n"},
        RewriteCase{"LineWithoutEqualsIsNoKey",
                    "[A]\r\nk\r\n",
                    {{"A", "k", "1"}},
                    "[A]\r\nk\r\nk=1\r\n\r\n"},
        RewriteCase{"SectionNameTrimmed", "[ HDY\t]\r\n", {}, "[HDY]\r\n\r\n"},
        RewriteCase{"EmptySectionsKept", "[A]\r\n[B]\r\n", {}, "[A]\r\n\r\n[B]\r\n\r\n"},
        RewriteCase{"EmptySectionName", "[]\r\nk=1\r\n", {}, "[]\r\nk=1\r\n\r\n"},
        RewriteCase{"LoneBracketsAreLines", "[\r\n]\r\n[A]\r\n[\r\n", {}, "[A]\r\n[\r\n\r\n"},
        RewriteCase{"EqualsInTheValue", "[A]\r\nk = a=b \r\n", {}, "[A]\r\nk=a=b\r\n\r\n"},
        RewriteCase{"LfOnly", "[A]\nk=v\n", {}, "[A]\r\nk=v\r\n\r\n"},
        RewriteCase{"NoMarkStaysWithout",
                    "[A]\r\nk=日本\r\n",
                    {{"A", "j", "語"}},
                    "[A]\r\nk=日本\r\nj=" + Ansi("語") + "\r\n\r\n"},
        RewriteCase{"Utf8MarkKept",
                    Utf8Mark + "[A]\r\nk=日本\r\n",
                    {{"A", "j", "語"}},
                    Utf8Mark + "[A]\r\nk=日本\r\nj=語\r\n\r\n"},
        RewriteCase{"Utf16LEKept",
                    Marked("[A]\r\nk=日本\r\n", QStringConverter::Utf16LE),
                    {{"A", "j", "語"}},
                    Marked("[A]\r\nk=日本\r\nj=語\r\n\r\n", QStringConverter::Utf16LE)},
        RewriteCase{"Utf16BEKept",
                    Marked("[A]\nk=日本\n", QStringConverter::Utf16BE),
                    {{"A", "j", "語"}},
                    Marked("[A]\r\nk=日本\r\nj=語\r\n\r\n", QStringConverter::Utf16BE)},
        // A stray NUL is a control character like the others, not the end of the file.
        RewriteCase{"NulLineKeepsTheSectionsAfterIt",
                    Bytes("[HDY]\r\nMIN=5\r\n\0\r\n[MOTOR]\r\nHEIGHT=20\r\n"),
                    {{"MOTOR", "WIDTH", "10"}},
                    "[HDY]\r\nMIN=5\r\n\r\n[MOTOR]\r\nHEIGHT=20\r\nWIDTH=10\r\n\r\n"},
        RewriteCase{"NulAtLineEndsStripped",
                    Bytes("[A]\0\r\n\0k=v\0\0\n[B]\r\nx=1\r\n"),
                    {},
                    "[A]\r\nk=v\r\n\r\n[B]\r\nx=1\r\n\r\n"},
        RewriteCase{"Utf16NulKeepsTheSectionsAfterIt",
                    Marked(Bytes("[A]\r\nk=1\0\r\n[B]\r\nx=2\r\n"), QStringConverter::Utf16LE),
                    {},
                    Marked("[A]\r\nk=1\r\n\r\n[B]\r\nx=2\r\n\r\n", QStringConverter::Utf16LE)}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    QByteArray file;
    const char* section;
    const char* key;
    const char* def;
    const char* expected;
};

class IniReadStringTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniReadStringTest, LooksUpTheValue) {
    const ReadCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"read.ini"_s);
    WriteBytes(path, c.file);
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                             QString::fromUtf8(c.def)),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniReadStringTest,
    ::testing::Values(
        ReadCase{"Plain", "[HDY]\r\nMIN=5\r\n", "HDY", "MIN", "0", "5"},
        ReadCase{"NamesIgnoreCase", "[hdy]\r\nmin=5\r\n", "HDY", "Min", "0", "5"},
        ReadCase{"BlanksAroundEqualsGone", "[A]\r\n k  =  v w \r\n", "A", "k", "", "v w"},
        ReadCase{"EmptyValueIsNotTheDefault", "[REMOCON]\r\nButton1=\r\n", "REMOCON", "Button1",
                 "d", ""},
        ReadCase{"MissingKey", "[A]\r\nx=1\r\n", "A", "y", "d", "d"},
        ReadCase{"MissingSection", "[A]\r\nx=1\r\n", "B", "x", "d", "d"},
        ReadCase{"KeyOnlyInASecondSection", "[A]\r\nx=1\r\n[A]\r\ny=2\r\n", "A", "y", "d", "d"},
        ReadCase{"FirstSectionWins", "[A]\r\nx=1\r\n[a]\r\nx=2\r\n", "A", "x", "d", "1"},
        ReadCase{"FirstKeyWins", "[A]\r\nx=1\r\nX=2\r\n", "A", "x", "d", "1"},
        ReadCase{"LineWithoutEqualsDoesNotMatch", "[A]\r\nx\r\n", "A", "x", "d", "d"},
        ReadCase{"ValueWithEquals", "[A]\r\nx=a=b\r\n", "A", "x", "d", "a=b"},
        ReadCase{"CommentIsNoKey", "[A]\r\n;x=1\r\n", "A", ";x", "d", "d"},
        ReadCase{"KeyBeforeAnySection", "x=1\r\n[A]\r\n", "A", "x", "d", "d"},
        ReadCase{"Utf8Path", "\xEF\xBB\xBF[REMOCON]\r\nButton3=/home/ユーザー/歩く.kmf\r\n",
                 "REMOCON", "Button3", "", "/home/ユーザー/歩く.kmf"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NumberCase {
    const char* name;
    const char* value;
    int def;
    int integer;
};

class IniReadNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(IniReadNumberTest, ReadsIntegersAndBooleans) {
    const NumberCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"number.ini"_s);
    WriteBytes(path, QByteArray("[motor]\r\nheight=") + c.value + "\r\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, c.def), c.integer);
    EXPECT_EQ(ini.ReadBool(u"MOTOR"_s, u"HEIGHT"_s, c.def != 0), c.integer != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniReadNumberTest,
    ::testing::Values(NumberCase{"Hex0x", "0x14", 10, 20}, NumberCase{"HexDollar", "$1F", 10, 31},
                      NumberCase{"NotANumber", "abc", 10, 10}, NumberCase{"Large", "40", 10, 40},
                      NumberCase{"Empty", "", 10, 10}, NumberCase{"Negative", "-5", 10, -5},
                      NumberCase{"Fraction", "2.5", 7, 7}, NumberCase{"TwoIsTrue", "2", 0, 2},
                      NumberCase{"ZeroIsFalse", "0", 1, 0},
                      NumberCase{"HexZeroIsFalse", "0x0", 1, 0},
                      NumberCase{"JunkKeepsTrueDefault", "yes", 1, 1},
                      NumberCase{"JunkKeepsFalseDefault", "yes", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniFile, AutoIncrementTwoIsOnAndWrittenBackAsOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"apply.ini"_s);
    WriteBytes(path, "[APPLY]\r\nAUTOINCR=2\r\n");
    IniFile ini(path);
    const bool on = ini.ReadBool(u"APPLY"_s, u"AUTOINCR"_s, false);
    EXPECT_TRUE(on);
    ini.WriteBool(u"APPLY"_s, u"AUTOINCR"_s, on);
    ASSERT_EQ(ini.UpdateFile(), QString());
    EXPECT_EQ(ReadBytes(path), "[APPLY]\r\nAUTOINCR=1\r\n\r\n");
}

TEST(IniFile, WrittenValuesReadBackBeforeSaving) {
    IniFile ini;
    ini.WriteInteger(u"MOTOR"_s, u"HEIGHT"_s, -25);
    ini.WriteBool(u"APPLY"_s, u"AUTOINCR"_s, true);
    ini.WriteString(u"REMOCON"_s, u"Button15"_s, u"/a/b.kmf"_s);
    EXPECT_EQ(ini.ReadInteger(u"motor"_s, u"height"_s, 10), -25);
    EXPECT_TRUE(ini.ReadBool(u"APPLY"_s, u"AUTOINCR"_s, false));
    EXPECT_EQ(ini.ReadString(u"REMOCON"_s, u"BUTTON15"_s, QString()), u"/a/b.kmf"_s);
    EXPECT_EQ(ini.toBytes(),
              "[MOTOR]\r\nHEIGHT=-25\r\n\r\n[APPLY]\r\nAUTOINCR=1\r\n\r\n[REMOCON]\r\n"
              "Button15=/a/b.kmf\r\n\r\n");
}

// A start and a shutdown: every key read, then written back as read.
void StartAndShutdown(const QString& path) {
    IniFile ini(path);
    ASSERT_FALSE(ini.readFailed());
    for (int k = 0; k < ServoCount; ++k) {
        const QString min = ini.ReadString(Name(k), u"MIN"_s, u"0"_s);
        const QString max = ini.ReadString(Name(k), u"MAX"_s, u"180"_s);
        ini.WriteString(Name(k), u"MIN"_s, min);
        ini.WriteString(Name(k), u"MAX"_s, max);
    }
    ini.WriteInteger(u"MOTOR"_s, u"HEIGHT"_s, ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, 10));
    ini.WriteInteger(u"MOTOR"_s, u"WIDTH"_s, ini.ReadInteger(u"MOTOR"_s, u"WIDTH"_s, 10));
    ini.WriteBool(u"APPLY"_s, u"AUTOINCR"_s, ini.ReadBool(u"APPLY"_s, u"AUTOINCR"_s, false));
    for (int i = 1; i <= 15; ++i) {
        const QString key = u"Button%1"_s.arg(i);
        ini.WriteString(u"REMOCON"_s, key, ini.ReadString(u"REMOCON"_s, key, QString()));
    }
    ASSERT_EQ(ini.UpdateFile(), QString());
}

TEST(IniFile, SecondStartAndShutdownChangeNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"stable.ini"_s);
    WriteBytes(path, Utf8Mark + "; written by hand\r\n[lsr]\r\nmin = 10\r\n[EXTRA]\r\nx = 1\r\n"
                                "[motor]\r\nheight=0x14\r\nwidth=abc\r\n[HDY]\r\nMAX=170\r\n"
                                "[HDY]\r\nMIN=99\r\n[APPLY]\r\nAUTOINCR=2\r\n[REMOCON]\r\n"
                                "Button2 = /tmp/歩く.kmf\r\n");
    StartAndShutdown(path);
    const QByteArray first = ReadBytes(path);
    StartAndShutdown(path);
    EXPECT_EQ(ReadBytes(path), first);

    const QByteArray head = Utf8Mark + "[lsr]\r\nMIN=10\r\nMAX=180\r\n\r\n[EXTRA]\r\nx=1\r\n\r\n"
                                       "[motor]\r\nHEIGHT=20\r\nWIDTH=10\r\n\r\n"
                                       "[HDY]\r\nMAX=170\r\nMIN=0\r\n\r\n[HDY]\r\nMIN=99\r\n\r\n"
                                       "[APPLY]\r\nAUTOINCR=1\r\n\r\n[REMOCON]\r\n"
                                       "Button2=/tmp/歩く.kmf\r\nButton1=\r\nButton3=\r\n";
    EXPECT_TRUE(first.startsWith(head)) << first.toStdString();
    EXPECT_TRUE(first.endsWith("Button15=\r\n\r\n[WTY]\r\nMIN=0\r\nMAX=180\r\n\r\n[RSR]\r\n"
                               "MIN=0\r\nMAX=180\r\n\r\n[RSP]\r\nMIN=0\r\nMAX=180\r\n\r\n[RHG]\r\n"
                               "MIN=0\r\nMAX=180\r\n\r\n[LSP]\r\nMIN=0\r\nMAX=180\r\n\r\n[LHG]\r\n"
                               "MIN=0\r\nMAX=180\r\n\r\n[RFY]\r\nMIN=0\r\nMAX=180\r\n\r\n[RFP]\r\n"
                               "MIN=0\r\nMAX=180\r\n\r\n[LFY]\r\nMIN=0\r\nMAX=180\r\n\r\n[LFP]\r\n"
                               "MIN=0\r\nMAX=180\r\n\r\n"))
        << first.toStdString();
}

TEST(IniFile, FileThatCannotBeReadGivesDefaultsAMessageAndIsNotOverwritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"folder.ini"_s);
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.ini"_s));
    IniFile ini(path);
    EXPECT_TRUE(ini.readFailed());
    EXPECT_TRUE(ini.readError().startsWith(FileReadErrorText(path) + u"\r\n"_s))
        << ini.readError().toStdString();
    EXPECT_GT(ini.readError().size(), FileReadErrorText(path).size() + 2);
    EXPECT_EQ(ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, 10), 10);
    WriteAllKeys(ini);
    EXPECT_EQ(ini.UpdateFile(), QString());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_TRUE(Entries(path).isEmpty());
    EXPECT_EQ(Entries(dir.path()), L{"folder.ini"});
}

TEST(IniFile, UnreadableFileIsLeftAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"locked.ini"_s);
    WriteBytes(path, "[MOTOR]\r\nHEIGHT=20\r\n");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "file permissions do not apply to this user";
    IniFile ini(path);
    EXPECT_TRUE(ini.readFailed());
    EXPECT_EQ(ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, 10), 10);
    WriteAllKeys(ini);
    EXPECT_EQ(ini.UpdateFile(), QString());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(ReadBytes(path), "[MOTOR]\r\nHEIGHT=20\r\n");
}

void ExpectWriteFailure(const IniFile& ini) {
    const QString message = ini.UpdateFile();
    EXPECT_TRUE(message.startsWith(u"ファイル書き込みエラー\r\nFile write error\r\n\r\n"_s))
        << message.toStdString();
    EXPECT_TRUE(message.contains(ini.fileName())) << message.toStdString();
}

TEST(IniFileWriteFailure, FolderMissing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    IniFile ini(dir.filePath(u"gone/Motion.ini"_s));
    EXPECT_FALSE(ini.readFailed());
    WriteAllKeys(ini);
    ExpectWriteFailure(ini);
    EXPECT_TRUE(Entries(dir.path()).isEmpty());
}

TEST(IniFileWriteFailure, ReadOnlyFolderKeepsTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"Motion.ini"_s);
    const QByteArray old = "[MOTOR]\r\nHEIGHT=20\r\n";
    WriteBytes(path, old);
    IniFile ini(path);
    WriteAllKeys(ini);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    if (PermissionsIgnored(dir.path())) {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "folder permissions do not apply to this user";
    }
    ExpectWriteFailure(ini);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Entries(dir.path()), L{"Motion.ini"});
}

#ifdef Q_OS_UNIX
TEST(IniFileWriteFailure, WriteFailingHalfWayKeepsTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"Motion.ini"_s);
    const QByteArray old = "[MOTOR]\r\nHEIGHT=20\r\n";
    WriteBytes(path, old);
    IniFile ini(path);
    WriteAllKeys(ini);
    {
        const FileSizeLimit limit(100); // the new file needs about 600 bytes
        ExpectWriteFailure(ini);
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Entries(dir.path()), L{"Motion.ini"});
}
#endif

struct NameCase {
    const char* executable;
    const char* ini;
};

class IniFilenameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(IniFilenameTest, ReplacesTheExtension) {
    EXPECT_EQ(IniFilenameFor(QString::fromUtf8(GetParam().executable)),
              QString::fromUtf8(GetParam().ini));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniFilenameTest,
    ::testing::Values(NameCase{"C:\\KOBITO\\Motion.exe", "C:\\KOBITO\\Motion.ini"},
                      NameCase{"/usr/bin/kobito-motion", "/usr/bin/kobito-motion.ini"},
                      NameCase{"/opt/a.b/motion", "/opt/a.b/motion.ini"},
                      NameCase{"C:\\a.b\\motion", "C:\\a.b\\motion.ini"},
                      NameCase{"/x/motion.tar.gz", "/x/motion.tar.ini"},
                      NameCase{"/x/motion.", "/x/motion.ini"}, NameCase{"motion", "motion.ini"}));

TEST(SettingsFilePath, BesideTheExecutableWhenItsFolderIsWritable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString executable = dir.filePath(u"kobito-motion"_s);
    EXPECT_EQ(SettingsFilePath(executable), executable + u".ini"_s);
}

#ifdef Q_OS_UNIX
// FolderIsWritable(folder) as an ordinary user: root may write anywhere, so
// it asks from a child that has given up root for the user "nobody". Empty
// when root cannot give up its rights here.
std::optional<bool> WritableForAUser(const QString& folder) {
    if (geteuid() != 0)
        return FolderIsWritable(folder);
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
            setresuid(nobody, nobody, nobody) != 0)
            _exit(2);
        _exit(FolderIsWritable(folder) ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 1;
}

TEST(FolderIsWritable, TriesToCreateAndRemoveAFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                     QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                     QFile::ExeOther;
    const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                          QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readOnly | QFile::WriteOwner);
    const struct {
        const char* name;
        QFileDevice::Permissions permissions; // none: not made
        bool writable;
    } cases[] = {{"open", all, true}, {"read-only", readOnly, false}, {"missing", {}, false}};
    for (const auto& c : cases) {
        const QString folder = dir.filePath(QString::fromUtf8(c.name));
        if (c.permissions) {
            ASSERT_TRUE(QDir().mkdir(folder));
            QFile::setPermissions(folder, c.permissions);
        }
        const std::optional<bool> writable = WritableForAUser(folder);
        if (!writable)
            GTEST_SKIP() << "root cannot act as an ordinary user here (no setuid)";
        EXPECT_EQ(*writable, c.writable) << c.name;
        if (c.permissions) {
            EXPECT_EQ(Entries(folder), L{}) << c.name << ": the test file was left behind";
            QFile::setPermissions(folder, all);
        }
    }
    WriteBytes(dir.filePath(u"file"_s), "x"); // a file is no folder
    EXPECT_FALSE(FolderIsWritable(dir.filePath(u"file"_s)));
}
#endif

struct ChooseCase {
    const char* name;
    bool besideWritable;
    bool besideExists;
    bool userExists;
    bool hasUserFolder;
    const char* read; // "beside" or "user"
    const char* write;
};

class ChooseSettingsFilesTest : public ::testing::TestWithParam<ChooseCase> {};

TEST_P(ChooseSettingsFilesTest, PicksTheFilesToReadAndWrite) {
    const ChooseCase& c = GetParam();
    QTemporaryDir program;
    QTemporaryDir config;
    ASSERT_TRUE(program.isValid() && config.isValid());
    const QString beside = program.filePath(u"kobito-motion.ini"_s);
    const QString user = c.hasUserFolder ? config.filePath(u"kobito-motion.ini"_s) : QString();
    if (c.besideExists)
        WriteBytes(beside, "[MOTOR]\r\nHEIGHT=20\r\n");
    if (c.userExists)
        WriteBytes(user, "[MOTOR]\r\nHEIGHT=5\r\n");
    auto path = [&](const char* which) {
        return std::string_view(which) == "user" ? user : beside;
    };
    const SettingsFiles files = ChooseSettingsFiles(beside, user, c.besideWritable);
    EXPECT_EQ(files.read, path(c.read));
    EXPECT_EQ(files.write, path(c.write));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChooseSettingsFilesTest,
    ::testing::Values(
        ChooseCase{"WritableFolderKeepsItBeside", true, true, true, true, "beside", "beside"},
        ChooseCase{"WritableFolderWithoutAFile", true, false, false, true, "beside", "beside"},
        // A teacher's prepared copy on a read-only share is read, and saved as the user's own.
        ChooseCase{"ReadOnlyReadsThePreparedCopy", false, true, false, true, "beside", "user"},
        ChooseCase{"ReadOnlyPrefersTheUsersCopy", false, true, true, true, "user", "user"},
        ChooseCase{"ReadOnlyWithoutAnyFile", false, false, false, true, "user", "user"},
        ChooseCase{"ReadOnlyWithOnlyTheUsersCopy", false, false, true, true, "user", "user"},
        ChooseCase{"NoUserFolderStaysBeside", false, true, false, false, "beside", "beside"}),
    [](const auto& info) { return std::string(info.param.name); });

struct InsideCase {
    const char* path;
    const char* folder;
    bool caseSensitive;
    bool inside;
};

class IsInsideFolderTest : public ::testing::TestWithParam<InsideCase> {};

TEST_P(IsInsideFolderTest, ComparesWholeNames) {
    const InsideCase& c = GetParam();
    EXPECT_EQ(IsInsideFolder(QString::fromUtf8(c.path), QString::fromUtf8(c.folder),
                             c.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive),
              c.inside)
        << c.path << " in " << c.folder;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsInsideFolderTest,
    ::testing::Values(
        InsideCase{"C:/Program Files/KOBITO Motion", "C:/Program Files", false, true},
        InsideCase{"C:\\Program Files\\KOBITO Motion", "C:\\Program Files\\", false, true},
        InsideCase{"c:/program files/kobito motion", "C:\\Program Files", false, true},
        InsideCase{"c:/program files/kobito motion", "C:/Program Files", true, false},
        InsideCase{"C:/Program Files", "C:/Program Files", false, true},
        // A longer name that starts alike is another folder.
        InsideCase{"C:/Program Files (x86)/KOBITO Motion", "C:/Program Files", false, false},
        InsideCase{"C:/Program FilesX", "C:/Program Files", false, false},
        InsideCase{"C:/Program Files/../Tools", "C:/Program Files", false, false},
        InsideCase{"C:/Tools", "C:/", false, true}, InsideCase{"/opt/kobito", "/", true, true},
        InsideCase{"C:/Tools", "", false, false}));

#ifdef Q_OS_WIN
// An installed copy under Program Files keeps its settings in the user's folder
// even when it could write there (an administrator, or anyone under Wine); a
// copy elsewhere, as unpacked from the zip, keeps them beside itself.
TEST(SettingsFilePath, UsersFolderUnderProgramFilesEvenWhenWritable) {
    const std::vector<std::wstring> roots = PerMachineProgramFolders();
    ASSERT_FALSE(roots.empty());
    const QString programFiles = QString::fromStdWString(roots.front());
    QTemporaryDir installed(QDir(programFiles).filePath(u"kobito-model-test-XXXXXX"_s));
    if (!installed.isValid())
        GTEST_SKIP() << "this user cannot make a folder in " << programFiles.toStdString();
    QTemporaryDir portable;
    ASSERT_TRUE(portable.isValid());
    EXPECT_TRUE(IsPerMachineProgramFolder(installed.path()));
    EXPECT_FALSE(IsPerMachineProgramFolder(portable.path()));

    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(u"kobito-model-test"_s);
    const QString user = QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
                             .filePath(u"kobito-motion.ini"_s);
    const QString inProgramFiles = installed.filePath(u"kobito-motion.exe"_s);
    const QString elsewhere = portable.filePath(u"kobito-motion.exe"_s);
    const SettingsFiles files = SettingsFileLocation(inProgramFiles);
    const QString besidePortable = SettingsFilePath(elsewhere);
    QStandardPaths::setTestModeEnabled(false);
    EXPECT_EQ(files.write, user);
    EXPECT_EQ(files.read, user);
    EXPECT_EQ(besidePortable, portable.filePath(u"kobito-motion.ini"_s));
}
#endif

TEST(IniFile, ReadsOneFileAndWritesAnother) {
    QTemporaryDir program;
    QTemporaryDir config;
    ASSERT_TRUE(program.isValid() && config.isValid());
    const QString beside = program.filePath(u"kobito-motion.ini"_s);
    const QString user = config.filePath(u"kobito-motion.ini"_s);
    const QByteArray prepared = "[HDY]\r\nMIN=10\r\nMAX=170\r\n\r\n[MOTOR]\r\nHEIGHT=20\r\n\r\n";
    WriteBytes(beside, prepared);
    IniFile ini(beside, user);
    EXPECT_EQ(ini.fileName(), user);
    EXPECT_EQ(ini.ReadString(u"HDY"_s, u"MIN"_s, u"0"_s), u"10"_s);
    EXPECT_EQ(ini.ReadInteger(u"MOTOR"_s, u"HEIGHT"_s, 10), 20);
    ini.WriteInteger(u"MOTOR"_s, u"WIDTH"_s, 12);
    ASSERT_EQ(ini.UpdateFile(), QString());
    EXPECT_EQ(ReadBytes(beside), prepared);
    EXPECT_EQ(ReadBytes(user),
              "[HDY]\r\nMIN=10\r\nMAX=170\r\n\r\n[MOTOR]\r\nHEIGHT=20\r\nWIDTH=12\r\n\r\n");
}

TEST(SettingsFilePath, UsersConfigurationFolderWhenTheExecutablesIsReadOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    if (PermissionsIgnored(dir.path())) {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "folder permissions do not apply to this user";
    }
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(u"kobito-model-test"_s);
    const QString path = SettingsFilePath(dir.filePath(u"kobito-motion"_s));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(path, QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
                        .filePath(u"kobito-motion.ini"_s));
    QStandardPaths::setTestModeEnabled(false);
}

} // namespace
} // namespace kobito
