// Files as a Japanese Windows has them: its ANSI code page is 932 (Shift-JIS).
// Runs on Windows, or under Wine with a ja_JP locale; skipped under another
// code page.
#include "IniFile.h"
#include "MotionFile.h"
#include "TestFiles.h"
#include "TextRules.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

using namespace kobito;

namespace {

// "歩く" and "おじぎ" in Shift-JIS.
const QByteArray kWalkSjis = "\x95\xe0\x82\xad";
const QByteArray kBowSjis = "\x82\xa8\x82\xb6\x82\xac";

class CodePage932 : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() != 932)
            GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
        ASSERT_TRUE(dir.isValid());
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

TEST_F(CodePage932, SettingsAreWrittenInShiftJisWithoutAMark) {
    IniFile ini(Path("kobito-motion.ini"));
    ini.WriteString("REMOCON", "Caption1", QStringLiteral("歩く"));
    ini.WriteString("REMOCON", "Caption2", QStringLiteral("おじぎ"));
    ASSERT_EQ(ini.UpdateFile(), "");
    EXPECT_EQ(Read(Path("kobito-motion.ini")),
              "[REMOCON]\r\nCaption1=" + kWalkSjis + "\r\nCaption2=" + kBowSjis + "\r\n\r\n");
}

TEST_F(CodePage932, AMotionFileIsWrittenInShiftJisWithoutAMark) {
    QList<QStringList> rows(MotionRowCount, QStringList(ChannelCount, QStringLiteral("0")));
    rows[0][0] = QStringLiteral("歩く");
    SaveMotionFile(Path("walk.kmf"), rows);
    const QByteArray bytes = Read(Path("walk.kmf"));
    EXPECT_TRUE(bytes.startsWith(kWalkSjis + ",0,")) << bytes.left(32).toHex().toStdString();
    EXPECT_EQ(bytes.count("\r\n"), MotionRowCount);
}

// A file saved on a Japanese Windows reads back right and, unchanged, is
// written back byte for byte.
TEST_F(CodePage932, AJapaneseWindowsSettingsFileReadsAndSavesUnchanged) {
    const QByteArray original = "[REMOCON]\r\nCaption1=" + kWalkSjis + "\r\nPath1=C:\\" + kBowSjis +
                                "\\" + kWalkSjis + ".kmf\r\n\r\n[OPTION]\r\nComPort=COM3\r\n\r\n";
    kobito::test::WriteBytes(Path("in.ini"), original);
    IniFile ini(Path("in.ini"));
    ASSERT_FALSE(ini.readFailed()) << ini.readError().toStdString();
    EXPECT_EQ(ini.ReadString("REMOCON", "Caption1", ""), QStringLiteral("歩く"));
    EXPECT_EQ(ini.ReadString("REMOCON", "Path1", ""), QStringLiteral("C:\\おじぎ\\歩く.kmf"));
    EXPECT_EQ(ini.encoding(), TextEncoding::Default8Bit);
    EXPECT_EQ(ini.toBytes(), original);
}

TEST_F(CodePage932, AJapaneseWindowsMotionFileReadsAndSavesUnchanged) {
    QByteArray original;
    for (int r = 0; r < MotionRowCount; ++r)
        original +=
            (r == 0 ? kWalkSjis : QByteArray("0")) + ",1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\r\n";
    kobito::test::WriteBytes(Path("in.kmf"), original);
    const TextFileResult read =
        LoadTextLines(Path("in.kmf"), NulRule::EndsText, MotionFileMaxBytes);
    ASSERT_TRUE(read.ok) << read.error.toStdString();
    const QList<QStringList> rows = MotionRowsFromLines(read.lines);
    EXPECT_EQ(rows[0][0], QStringLiteral("歩く"));
    EXPECT_EQ(rows[0][15], "15");
    EXPECT_EQ(EncodeMotionFile(rows), original);
}

// Beyond 260 characters, in a folder with a Japanese name.
TEST_F(CodePage932, AMotionFileBeyondMaxPathReads) {
    QString folder = dir.path();
    while (folder.size() < 300)
        folder += QStringLiteral("/フォルダ0123456789abcdef");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/歩く.kmf");
    ASSERT_GT(QDir::toNativeSeparators(path).size(), MAX_PATH);
    QList<QStringList> rows(MotionRowCount, QStringList(ChannelCount, QStringLiteral("7")));
    SaveMotionFile(path, rows);
    const TextFileResult read = LoadTextLines(path, NulRule::EndsText, MotionFileMaxBytes);
    ASSERT_TRUE(read.ok) << read.error.toStdString();
    EXPECT_EQ(MotionRowsFromLines(read.lines), rows);
}

// The reason is the system's own text, in the system's language.
TEST_F(CodePage932, AFailingOpenGivesTheSystemsText) {
    const TextFileResult read = LoadTextLines(Path("missing.kmf"));
    ASSERT_FALSE(read.ok);
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    ASSERT_GT(length, 0u);
    const QString expected = QString::fromWCharArray(buffer, int(length)).trimmed();
    LocalFree(buffer);
    EXPECT_EQ(read.error, expected);
}

} // namespace
