#include "MotionFile.h"
#include "Channels.h"
#include "TestFiles.h"
#include "TextRules.h"

#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kobito {
namespace {

using namespace test;
using namespace Qt::StringLiterals;
using L = QStringList;
using Rows = QList<QStringList>;

struct LineCase {
    const char* name;
    QString line;
    QStringList values;
};

class DecodeMotionLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(DecodeMotionLineTest, SplitsIntoValues) {
    EXPECT_EQ(DecodeMotionLine(GetParam().line), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeMotionLineTest,
    ::testing::Values(LineCase{"EmptyLineHasNoValues", u""_s, {}},
                      LineCase{"Plain", u"1,2,3"_s, L{"1", "2", "3"}},
                      LineCase{"EmptyMiddle", u"1,,3"_s, L{"1", "", "3"}},
                      LineCase{"TrailingCommaAddsEmpty", u"1,2,"_s, L{"1", "2", ""}},
                      LineCase{"OnlyACommaIsTwoEmpty", u","_s, L{"", ""}},
                      LineCase{"ThreeCommasAreFourEmpty", u",,,"_s, L{"", "", "", ""}},
                      LineCase{"LeadingComma", u",1"_s, L{"", "1"}},
                      LineCase{"BlanksKept", u" 12 , 3"_s, L{" 12 ", " 3"}},
                      LineCase{"QuotedComma", u"\"1,5\",2"_s, L{"1,5", "2"}},
                      LineCase{"DoubledQuote", u"\"a\"\"b\""_s, L{"a\"b"}},
                      LineCase{"EmptyQuoted", u"\"\""_s, L{""}},
                      LineCase{"QuotedEmptyInMiddle", u"1,\"\",3"_s, L{"1", "", "3"}},
                      LineCase{"OnlyADoubledQuote", u"\"\"\"\""_s, L{"\""}},
                      LineCase{"UnclosedTakesTheRest", u"\"ab,c"_s, L{"ab,c"}},
                      LineCase{"LoneQuote", u"\""_s, L{""}},
                      LineCase{"UnclosedAfterDoubled", u"\"a\"\""_s, L{"a\""}},
                      LineCase{"TextAfterClosingQuoteStartsNextValue", u"\"a\"b,c"_s,
                               L{"a", "b", "c"}},
                      LineCase{"QuotedThenTrailingComma", u"\"a\","_s, L{"a", ""}},
                      LineCase{"QuoteInsideBareValue", u"a\"b,c"_s, L{"a\"b", "c"}},
                      LineCase{"QuotedWithDoubledAtEnd", u"\"x\"\"\",y"_s, L{"x\"", "y"}},
                      LineCase{"NonLatin", u"日本,語"_s, L{u"日本"_s, u"語"_s}}),
    [](const auto& info) { return std::string(info.param.name); });

// Spreadsheets copy rows with tabs between the cells and quote as motion files do.
TEST(DecodeMotionLine, TabAsDelimiter) {
    EXPECT_EQ(DecodeMotionLine(u"1\t\"a\tb\"\"\"\t1,5\t"_s, u'\t'), (L{"1", "a\tb\"", "1,5", ""}));
}

struct PasteCase {
    const char* name;
    QString text;
    Rows rows; // each of at most ChannelCount values
    qsizetype maxRows = MotionRowCount;
};

class MotionRowsFromTextTest : public ::testing::TestWithParam<PasteCase> {};

TEST_P(MotionRowsFromTextTest, OneRowPerLine) {
    EXPECT_EQ(MotionRowsFromText(GetParam().text, GetParam().maxRows), GetParam().rows);
}

// A short line gives a short row: the table keeps the cells it has no value for.
INSTANTIATE_TEST_SUITE_P(
    Table, MotionRowsFromTextTest,
    ::testing::Values(
        PasteCase{"Nothing", u""_s, {}},
        PasteCase{"MotionLine",
                  u"90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10"_s,
                  {L{"90", "90", "0", "130", "90", "180", "50", "90", "90", "90", "90", "90", "0",
                     "0", "255", "10"}}},
        PasteCase{"LinesWithAnyLineEnd", u"1,2\r\n3\n4\r"_s, {L{"1", "2"}, L{"3"}, L{"4"}}},
        PasteCase{"QuotedAndTrimmed", u"\" 1,5 \", 7 ,\"a\"\"b\""_s, {L{"1,5", "7", "a\"b"}}},
        PasteCase{"TabSeparatedWithDecimalCommas", u"1,5\t 2 \t3\r\n"_s, {L{"1,5", "2", "3"}}},
        PasteCase{"SpreadsheetQuoting", u"\"a\"\"b\"\t\t9"_s, {L{"a\"b", "", "9"}}},
        PasteCase{"BlankLineChangesNothing", u"1\n\n2\n"_s, {L{"1"}, L{}, L{"2"}}},
        PasteCase{"ValuesBeyondTheRowIgnored",
                  u"0\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t15\t16\t17"_s,
                  {L{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
                     "15"}}},
        // A NUL ends its value only: saved, it would end the file's text and every row after.
        PasteCase{"NulEndsItsValue",
                  u"1,2"_s + QChar(0) + u"3,4\n"_s + QChar(0) + u"5,\"6"_s + QChar(0) +
                      u"\"\"7\",8\n9"_s,
                  {L{"1", "2", "4"}, L{"", "6", "8"}, L{"9"}}},
        PasteCase{"OnlyTheRowsLeft", u"1\n2\n3\n4"_s, {L{"1"}, L{"2"}}, 2},
        PasteCase{"TrailingCommaAtTheLimitAddsNothing",
                  u"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,"_s,
                  {L{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
                     "15"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Megabytes of text make no megabyte cells: a value keeps MotionCellMaxLength characters,
// counted after the blanks before it, and a line gives at most ChannelCount values.
TEST(MotionRowsFromText, KeepsEachValueShort) {
    const QString big(10'000'000, u'7');
    const QString kept(MotionCellMaxLength, u'7');
    EXPECT_EQ(MotionRowsFromText(big, MotionRowCount), (Rows{L{kept}}));
    EXPECT_EQ(MotionRowsFromText(u"   "_s + big + u",1"_s, MotionRowCount), (Rows{L{kept, "1"}}));
    EXPECT_EQ(MotionRowsFromText(u"\""_s + big + u"\"\"\",2"_s, MotionRowCount),
              (Rows{L{kept, "2"}}));
    // Blanks at the cut end are trimmed as at any other end.
    EXPECT_EQ(MotionRowsFromText(QString(MotionCellMaxLength - 1, u'8') + u"  9"_s, 1),
              (Rows{L{QString(MotionCellMaxLength - 1, u'8')}}));
    const QString value(MotionCellMaxLength, u'x');
    EXPECT_EQ(MotionRowsFromText(value + u"\t1"_s, 1), (Rows{L{value, "1"}})) << "nothing cut";

    QString commas;
    for (int i = 0; i < 1'000'000; ++i)
        commas += u"1,"_s;
    const Rows rows = MotionRowsFromText(commas + u"\n"_s + commas, MotionRowCount);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], L(ChannelCount, u"1"_s));
    EXPECT_EQ(rows[1], L(ChannelCount, u"1"_s));
}

// The size a motion file is refused beyond holds the largest table the editor can make, written
// by the program or by another tool in UTF-16: 100 rows of 16 values of MotionCellMaxLength
// characters, each all double quotes (doubled on writing) or all characters that take three
// bytes in UTF-8.
TEST(MotionFileMaxBytes, HoldsTheLargestTable) {
    for (const QChar c : {QChar(u'"'), QChar(u'語')}) {
        const QStringList row(ChannelCount, QString(MotionCellMaxLength, c));
        const QString line = EncodeMotionRow(row) + u"\r\n"_s;
        const qint64 utf16 = 2 + MotionRowCount * qint64(line.size()) * 2;
        const qint64 utf8 = 3 + MotionRowCount * qint64(line.toUtf8().size());
        EXPECT_LE(utf16, MotionFileMaxBytes);
        EXPECT_LE(utf8, MotionFileMaxBytes);
        EXPECT_LE(qint64(EncodeMotionFile(QList<QStringList>(1, row)).size()) * MotionRowCount,
                  MotionFileMaxBytes);
    }
}

class EncodeMotionLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(EncodeMotionLineTest, QuotesOnlyWhereNeeded) {
    EXPECT_EQ(EncodeMotionLine(GetParam().values), GetParam().line);
}

TEST_P(EncodeMotionLineTest, DecodesBack) {
    EXPECT_EQ(DecodeMotionLine(EncodeMotionLine(GetParam().values)), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodeMotionLineTest,
    ::testing::Values(LineCase{"Plain", u"1,2"_s, L{"1", "2"}},
                      LineCase{"Comma", u"\"1,5\",0"_s, L{"1,5", "0"}},
                      LineCase{"Quote", u"\"a\"\"b\",0"_s, L{"a\"b", "0"}},
                      LineCase{"OnlyAQuote", u"\"\"\"\",0"_s, L{"\"", "0"}},
                      LineCase{"LeadingQuote", u"\"\"\"x\""_s, L{"\"x"}},
                      LineCase{"BlanksDoNotQuote", u"a b,0"_s, L{"a b", "0"}},
                      LineCase{"EmptyValues", u",,"_s, L{"", "", ""}},
                      LineCase{"NonLatin", u"日本,\"語,\""_s, L{u"日本"_s, u"語,"_s}},
                      LineCase{"Sixteen", u"0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"_s, L(16, u"0"_s)}),
    [](const auto& info) { return std::string(info.param.name); });

Rows Cleared() {
    return Rows(MotionRowCount, L(ChannelCount, u"0"_s));
}

QString Value(int row, int k) {
    return QString::number(row * 100 + k);
}

QString Line(int row, int values = ChannelCount) {
    L line;
    for (int k = 0; k < values; ++k)
        line.append(Value(row, k));
    return line.join(u',');
}

Rows Filled(int rowCount) {
    Rows rows = Cleared();
    for (int r = 0; r < rowCount; ++r)
        for (int k = 0; k < ChannelCount; ++k)
            rows[r][k] = Value(r, k);
    return rows;
}

QByteArray Text(const L& lines, const char* eol = "\r\n") {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + eol;
    return bytes;
}

QByteArray Utf16Marked(const QByteArray& utf8, QStringConverter::Encoding encoding) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(utf8));
}

const L ThreeLines{Line(0), Line(1), Line(2)};

struct ReadCase {
    const char* name;
    QByteArray bytes;
    Rows rows;
};

class ReadMotionFileTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadMotionFileTest, FillsTheTable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"motion.kmf"_s);
    WriteBytes(path, GetParam().bytes);
    const TextFileResult text = LoadTextLines(path);
    ASSERT_TRUE(text.ok) << text.error.toStdString();
    const Rows rows = MotionRowsFromLines(text.lines);
    ASSERT_EQ(rows.size(), MotionRowCount);
    for (int r = 0; r < MotionRowCount; ++r)
        EXPECT_EQ(rows[r], GetParam().rows[r]) << "row " << r;
}

Rows With(Rows rows, int row, const L& values) {
    for (qsizetype k = 0; k < values.size(); ++k)
        rows[row][k] = values[k];
    return rows;
}

L Lines(int count) {
    L lines;
    for (int r = 0; r < count; ++r)
        lines.append(Line(r));
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadMotionFileTest,
    ::testing::Values(
        ReadCase{"Empty", "", Cleared()}, ReadCase{"ThreeLines", Text(ThreeLines), Filled(3)},
        ReadCase{"HundredFiftyLines", Text(Lines(150)), Filled(100)},
        ReadCase{"LfOnly", Text(ThreeLines, "\n"), Filled(3)},
        ReadCase{"CrOnlyNoFinalBreak", Text(ThreeLines, "\r").chopped(1), Filled(3)},
        ReadCase{"Utf8Mark", "\xEF\xBB\xBF" + Text(ThreeLines), Filled(3)},
        ReadCase{"Utf16LE", Utf16Marked(Text(ThreeLines), QStringConverter::Utf16LE), Filled(3)},
        ReadCase{"Utf16BE", Utf16Marked(Text(ThreeLines), QStringConverter::Utf16BE), Filled(3)},
        ReadCase{"TenValues", Text({Line(0, 10)}),
                 With(Cleared(), 0, L{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"})},
        ReadCase{"TwentyValues", Text({Line(0, 20)}), Filled(1)},
        ReadCase{"BlankMiddleLine", Text({Line(0), u""_s, Line(2)}),
                 With(Filled(3), 1, L(ChannelCount, u"0"_s))},
        ReadCase{"ValuesTrimmed", Text({u" 5 ,\t6\t,7 "_s}), With(Cleared(), 0, L{"5", "6", "7"})},
        ReadCase{"EmptyValuesStayEmpty", Text({u"1,,3,"_s}),
                 With(Cleared(), 0, L{"1", "", "3", ""})},
        ReadCase{"QuotedValues", Text({u"\"1,5\",\"a\"\"b\", x"_s}),
                 With(Cleared(), 0, L{"1,5", "a\"b", "x"})},
        ReadCase{"NulEndsTheFile",
                 QByteArray("1,2\r\n3\0"
                            "4\r\n5,6\r\n",
                            15),
                 With(With(Cleared(), 0, L{"1", "2"}), 1, L{"3"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaveMotionFile, FreshTableIsHundredLinesOfSixteenZeros) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"fresh.kmf"_s);
    SaveMotionFile(path, Cleared());
    const QByteArray bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size(), 3300);
    EXPECT_EQ(bytes, QByteArray("0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n").repeated(100));
    EXPECT_EQ(Entries(dir.path()), L{"fresh.kmf"});
}

TEST(SaveMotionFile, WritesTheExampleRow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"stop.kmf"_s);
    Rows rows = Cleared();
    rows[0] = L{"90", "90", "0",  "130", "90", "180", "50",  "90",
                "90", "90", "90", "90",  "0",  "0",   "255", "10"};
    SaveMotionFile(path, rows);
    EXPECT_TRUE(ReadBytes(path).startsWith(
        "90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10\r\n0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n"));
}

struct SaveCase {
    const char* name;
    QString cell;
    QByteArray field; // as it stands in the file
    QString reread;
};

class SaveMotionFileTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveMotionFileTest, WritesTheCellAndReadsItBack) {
    const SaveCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"cell.kmf"_s);
    Rows rows = Cleared();
    rows[5][3] = c.cell;
    rows[7][15] = c.cell;
    SaveMotionFile(path, rows);

    const QList<QByteArray> lines = ReadBytes(path).split('\n');
    ASSERT_EQ(lines.size(), 101); // the last CR LF leaves an empty piece
    EXPECT_EQ(lines[5], "0,0,0," + c.field + ",0,0,0,0,0,0,0,0,0,0,0,0\r");
    EXPECT_EQ(lines[7], "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0," + c.field + "\r");

    const TextFileResult text = LoadTextLines(path);
    ASSERT_TRUE(text.ok);
    const Rows reread = MotionRowsFromLines(text.lines);
    Rows expected = Cleared();
    expected[5][3] = c.reread;
    expected[7][15] = c.reread;
    EXPECT_EQ(reread, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, SaveMotionFileTest,
                         ::testing::Values(SaveCase{"BlanksTrimmed", u" 12 "_s, "12", u"12"_s},
                                           SaveCase{"ControlsTrimmed", u"\t7\r\n"_s, "7", u"7"_s},
                                           SaveCase{"CommaQuoted", u"1,5"_s, "\"1,5\"", u"1,5"_s},
                                           SaveCase{"QuoteDoubled", u"say \"hi\""_s,
                                                    "\"say \"\"hi\"\"\"", u"say \"hi\""_s},
                                           SaveCase{"OnlyAQuote", u"\""_s, "\"\"\"\"", u"\""_s},
                                           SaveCase{"InnerBlanksBare", u"a b"_s, "a b", u"a b"_s},
                                           SaveCase{"Empty", u""_s, "", u""_s},
                                           SaveCase{"NotANumber", u"abc"_s, "abc", u"abc"_s}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef Q_OS_WIN
TEST(SaveMotionFile, NonLatinTextIsUtf8WithoutMarkOutsideWindows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"jp.kmf"_s);
    Rows rows = Cleared();
    rows[0][0] = u"日本"_s;
    SaveMotionFile(path, rows);
    EXPECT_TRUE(ReadBytes(path).startsWith("\xE6\x97\xA5\xE6\x9C\xAC,0,"));
    const TextFileResult text = LoadTextLines(path);
    ASSERT_TRUE(text.ok);
    EXPECT_EQ(MotionRowsFromLines(text.lines), rows);
}
#endif

TEST(SaveMotionFile, ReplacesALongerOldFileWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"old.kmf"_s);
    WriteBytes(path, QByteArray(10000, 'x'));
    SaveMotionFile(path, Cleared());
    EXPECT_EQ(ReadBytes(path).size(), 3300);
    EXPECT_EQ(Entries(dir.path()), L{"old.kmf"});
}

const QByteArray OldContent = "1,2,3\r\nthe user's old motion\r\n";

void ExpectFailureNamesPath(const QString& path, const Rows& rows) {
    try {
        SaveMotionFile(path, rows);
        ADD_FAILURE() << "saving to " << path.toStdString() << " did not fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_FALSE(error.reason().isEmpty());
        EXPECT_TRUE(error.message().contains(path));
        EXPECT_TRUE(error.message().contains(error.reason()));
        EXPECT_EQ(QString::fromUtf8(error.what()), error.message());
    }
}

TEST(SaveMotionFileFailure, PathIsAFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"folder.kmf"_s);
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.kmf"_s));
    ExpectFailureNamesPath(path, Cleared());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(Entries(dir.path()), L{"folder.kmf"});
    EXPECT_TRUE(Entries(path).isEmpty());
}

TEST(SaveMotionFileFailure, FolderMissing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ExpectFailureNamesPath(dir.filePath(u"gone/motion.kmf"_s), Cleared());
    EXPECT_TRUE(Entries(dir.path()).isEmpty());
}

TEST(SaveMotionFileFailure, ReadOnlyFolderKeepsTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"old.kmf"_s);
    WriteBytes(path, OldContent);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    if (PermissionsIgnored(dir.path())) {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "folder permissions do not apply to this user";
    }
    ExpectFailureNamesPath(path, Cleared());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(Entries(dir.path()), L{"old.kmf"});
}

#ifdef Q_OS_UNIX
TEST(SaveMotionFileFailure, WriteFailingHalfWayKeepsTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"old.kmf"_s);
    WriteBytes(path, OldContent);
    {
        const FileSizeLimit limit(1000); // the new file needs 3300 bytes
        ExpectFailureNamesPath(path, Cleared());
    }
    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(Entries(dir.path()), L{"old.kmf"});
}
#endif

} // namespace
} // namespace kobito
