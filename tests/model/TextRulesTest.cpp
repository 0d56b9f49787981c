#include "TextRules.h"
#include "TestFiles.h"

#ifdef Q_OS_UNIX
#include "Fifo.h"
#endif

#include <QLocale>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kobito {
namespace {

using namespace test;
using namespace Qt::StringLiterals;

struct IntCase {
    const char16_t* text;
    int expected;
};

constexpr int Def = -99;

class StrToIntDefTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntDefTest, Converts) {
    const IntCase& c = GetParam();
    EXPECT_EQ(StrToIntDef(QString::fromUtf16(c.text), Def), c.expected)
        << QString::fromUtf16(c.text).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, StrToIntDefTest,
    ::testing::Values(
        // decimal
        IntCase{u"0", 0}, IntCase{u"123", 123}, IntCase{u"00012", 12}, IntCase{u"  42", 42},
        IntCase{u"+7", 7}, IntCase{u"-7", -7}, IntCase{u" -12", -12},
        IntCase{u"2147483647", std::numeric_limits<int>::max()},
        IntCase{u"-2147483648", std::numeric_limits<int>::min()},
        // hexadecimal
        IntCase{u"$1F", 31}, IntCase{u"$ff", 255}, IntCase{u"x10", 16}, IntCase{u"X10", 16},
        IntCase{u"0x14", 20}, IntCase{u"0X14", 20}, IntCase{u"0x0", 0}, IntCase{u"-0x10", -16},
        IntCase{u"-$10", -16}, IntCase{u" $a", 10},
        IntCase{u"0x7FFFFFFF", std::numeric_limits<int>::max()},
        // everything else gives the default
        IntCase{u"", Def}, IntCase{u"   ", Def}, IntCase{u"12 ", Def}, IntCase{u"1 2", Def},
        IntCase{u"1.5", Def}, IntCase{u"1e3", Def}, IntCase{u"abc", Def}, IntCase{u"12a", Def},
        IntCase{u"+", Def}, IntCase{u"-", Def}, IntCase{u"- 5", Def}, IntCase{u"+-5", Def},
        IntCase{u"$", Def}, IntCase{u"x", Def}, IntCase{u"0x", Def}, IntCase{u"$g", Def},
        IntCase{u"0x1g", Def}, IntCase{u"\t5", Def}, IntCase{u"2147483648", Def},
        IntCase{u"-2147483649", Def}, IntCase{u"0x80000000", Def},
        IntCase{u"99999999999999999999", Def}, IntCase{u"\uFF10", Def}, IntCase{u"\u0663", Def}));

struct TrimCase {
    QString text;
    QString expected;
};

class TrimControlTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimControlTest, StripsControlsAndBlanksAtBothEnds) {
    EXPECT_EQ(TrimControl(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrimControlTest,
    ::testing::Values(TrimCase{u" 12 "_s, u"12"_s}, TrimCase{u"\t\r\n a b \x01"_s, u"a b"_s},
                      TrimCase{QString::fromUtf16(u"\0x\0", 3), u"x"_s},
                      TrimCase{QString(), QString()}, TrimCase{u"   "_s, QString()},
                      TrimCase{u"abc"_s, u"abc"_s}, TrimCase{u"!x!"_s, u"!x!"_s},
                      TrimCase{u"\u00A0x\u3000"_s, u"\u00A0x\u3000"_s}));

struct FloatCase {
    QLocale::Language language;
    const char* text;
    float expected; // NaN: the default
};

constexpr float FloatDef = -1.5f;

class StrToFloatDefTest : public ::testing::TestWithParam<FloatCase> {
protected:
    void SetUp() override { saved_ = QLocale(); }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST_P(StrToFloatDefTest, ConvertsInTheUsersLocale) {
    const FloatCase& c = GetParam();
    QLocale::setDefault(QLocale(c.language));
    const float value = StrToFloatDef(QString::fromUtf8(c.text), FloatDef);
    if (std::isnan(c.expected))
        EXPECT_EQ(value, FloatDef) << c.text;
    else
        EXPECT_FLOAT_EQ(value, c.expected) << c.text;
}

constexpr float Nan = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, StrToFloatDefTest,
    ::testing::Values(
        FloatCase{QLocale::English, "10.7", 10.7f}, FloatCase{QLocale::English, " 3 ", 3.0f},
        FloatCase{QLocale::English, "-20", -20.0f}, FloatCase{QLocale::German, "10,7", 10.7f},
        FloatCase{QLocale::German, "10.7", 10.7f}, // typed with a point anyway
        FloatCase{QLocale::English, "", Nan}, FloatCase{QLocale::English, "abc", Nan},
        FloatCase{QLocale::English, "12abc", Nan}, FloatCase{QLocale::English, "inf", Nan},
        FloatCase{QLocale::English, "nan", Nan}, FloatCase{QLocale::English, "1e40", Nan}));

QByteArray Utf16(const QString& text, QStringConverter::Encoding encoding) {
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

struct DecodeCase {
    const char* name;
    QByteArray bytes;
    QStringList lines;
    TextEncoding encoding;
};

class DecodeTextTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTextTest, SplitsAndDetectsTheMark) {
    const DecodeCase& c = GetParam();
    const DecodedText decoded = DecodeText(c.bytes);
    EXPECT_EQ(decoded.lines, c.lines);
    EXPECT_EQ(decoded.encoding, c.encoding);
}

using E = TextEncoding;
using L = QStringList;

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeTextTest,
    ::testing::Values(
        DecodeCase{"Empty", "", {}, E::Default8Bit},
        DecodeCase{"CrLf", "a\r\nb\r\n", L{"a", "b"}, E::Default8Bit},
        DecodeCase{"LfOnlyNoFinalBreak", "a\nb", L{"a", "b"}, E::Default8Bit},
        DecodeCase{"LoneCr", "a\rb\r", L{"a", "b"}, E::Default8Bit},
        DecodeCase{"BlankLineKept", "a\r\n\r\nb", L{"a", "", "b"}, E::Default8Bit},
        DecodeCase{"OnlyABreak", "\r\n", L{""}, E::Default8Bit},
        DecodeCase{"TwoLfs", "\n\n", L{"", ""}, E::Default8Bit},
        DecodeCase{"LfThenCr", "a\n\r", L{"a", ""}, E::Default8Bit},
        DecodeCase{"CrThenCrLf", "a\r\r\nb", L{"a", "", "b"}, E::Default8Bit},
        DecodeCase{"NulEndsText", QByteArray("a\0b\r\nc", 6), L{"a"}, E::Default8Bit},
        DecodeCase{"NulFirst", QByteArray("\0abc", 4), {}, E::Default8Bit},
        DecodeCase{"Utf8Mark",
                   "\xEF\xBB\xBF"
                   "a\r\n\xC3\xBC",
                   L{"a", u"\u00FC"_s}, E::Utf8},
        DecodeCase{"Utf8MarkOnly", "\xEF\xBB\xBF", {}, E::Utf8},
        DecodeCase{"SecondMarkIsText", "\xEF\xBB\xBF\xEF\xBB\xBFx", L{u"\uFEFFx"_s}, E::Utf8},
        DecodeCase{"Utf16LE", "\xFF\xFE" + Utf16(u"a\r\n日本\nb"_s, QStringConverter::Utf16LE),
                   L{"a", u"日本"_s, "b"}, E::Utf16LE},
        DecodeCase{"Utf16BE", "\xFE\xFF" + Utf16(u"a\r\n日本\rb\r\n"_s, QStringConverter::Utf16BE),
                   L{"a", u"日本"_s, "b"}, E::Utf16BE},
        DecodeCase{"Utf16OddLengthDropsHalfCharacter",
                   QByteArray("\xFF\xFE"
                              "a\0b",
                              5),
                   L{"a"}, E::Utf16LE},
        DecodeCase{"Utf16NulEndsText",
                   QByteArray("\xFF\xFE"
                              "a\0\0\0b\0",
                              8),
                   L{"a"}, E::Utf16LE},
        DecodeCase{"Utf16MarkOnly", "\xFE\xFF", {}, E::Utf16BE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeText, NulIsTextWhenAsked) {
    // The settings file keeps what follows a stray NUL; the NUL itself stays in its line.
    EXPECT_EQ(DecodeText(QByteArray("a\0b\r\nc", 6), NulRule::IsText).lines,
              L({QString::fromUtf16(u"a\0b", 3), "c"}));
    EXPECT_EQ(DecodeText(QByteArray("\xFF\xFE"
                                    "a\0\0\0\n\0b\0",
                                    10),
                         NulRule::IsText)
                  .lines,
              L({QString::fromUtf16(u"a\0", 2), "b"}));
}

#ifndef Q_OS_WIN
TEST(DecodeText, WithoutMarkIsUtf8OutsideWindows) {
    const DecodedText decoded = DecodeText("\xE6\x97\xA5\xE6\x9C\xAC\r\n");
    EXPECT_EQ(decoded.lines, L{u"日本"_s});
    EXPECT_EQ(decoded.encoding, E::Default8Bit);
    EXPECT_EQ(DefaultSaveEncoding(), E::Default8Bit);
}

TEST(EncodeLines, DefaultIsUtf8WithoutMarkOutsideWindows) {
    EXPECT_EQ(EncodeLines(L{u"日本"_s}, E::Default8Bit), "\xE6\x97\xA5\xE6\x9C\xAC\r\n");
}
#endif

struct EncodeCase {
    const char* name;
    QStringList lines;
    TextEncoding encoding;
    QByteArray bytes;
};

class EncodeLinesTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeLinesTest, EndsEveryLineWithCrLfAndWritesTheMark) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(EncodeLines(c.lines, c.encoding), c.bytes);
}

TEST_P(EncodeLinesTest, DecodesBackToTheSameLines) {
    const EncodeCase& c = GetParam();
    const DecodedText decoded = DecodeText(EncodeLines(c.lines, c.encoding));
    EXPECT_EQ(decoded.lines, c.lines);
    EXPECT_EQ(decoded.encoding, c.encoding);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodeLinesTest,
    ::testing::Values(EncodeCase{"Nothing", {}, E::Default8Bit, ""},
                      EncodeCase{"TwoLines", L{"a", "b"}, E::Default8Bit, "a\r\nb\r\n"},
                      EncodeCase{"EmptyLines", L{"", "x", ""}, E::Default8Bit, "\r\nx\r\n\r\n"},
                      EncodeCase{"Utf8", L{u"\u00FC"_s}, E::Utf8, "\xEF\xBB\xBF\xC3\xBC\r\n"},
                      EncodeCase{"Utf16LE", L{"a"}, E::Utf16LE,
                                 QByteArray("\xFF\xFE"
                                            "a\0\r\0\n\0",
                                            8)},
                      EncodeCase{"Utf16BE", L{"a"}, E::Utf16BE,
                                 QByteArray("\xFE\xFF\0a\0\r\0\n", 8)},
                      EncodeCase{"Utf16Japanese", L{u"日本"_s}, E::Utf16LE,
                                 "\xFF\xFE" + Utf16(u"日本\r\n"_s, QStringConverter::Utf16LE)}),
    [](const auto& info) { return std::string(info.param.name); });

// A text that starts with U+FEFF, written without a mark, would start with
// the mark's bytes; reading would drop the character. Found by fuzzing.
TEST(EncodeLines, ALeadingMarkCharacterKeepsItsPlaceInTheDefaultCodePage) {
    const QStringList lines{u"\uFEFF90"_s, u"1"_s};
    const QByteArray bytes = EncodeLines(lines, E::Default8Bit);
    EXPECT_EQ(bytes, "\xEF\xBB\xBF\xEF\xBB\xBF"
                     "90\r\n1\r\n");
    EXPECT_EQ(DecodeText(bytes).lines, lines);
#ifndef Q_OS_WIN
    // Elsewhere than at the start it needs no mark in UTF-8.
    EXPECT_EQ(EncodeLines(L{u"1"_s, u"\uFEFF2"_s}, E::Default8Bit), "1\r\n\xEF\xBB\xBF"
                                                                    "2\r\n");
#endif
}

TEST(LoadTextLines, ReadsAndDecodesAFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"lines.txt"_s);
    WriteBytes(path, "\xEF\xBB\xBF"
                     "one\r\ntwo\nthree");
    const TextFileResult result = LoadTextLines(path);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.lines, (L{"one", "two", "three"}));
    EXPECT_EQ(result.encoding, E::Utf8);
    EXPECT_TRUE(result.error.isEmpty());
}

TEST(LoadTextLines, ReportsFilesThatCannotBeRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& path : {dir.filePath(u"missing.kmf"_s), dir.path()}) {
        const TextFileResult result = LoadTextLines(path);
        EXPECT_FALSE(result.ok) << path.toStdString();
        EXPECT_FALSE(result.error.isEmpty()) << path.toStdString();
        EXPECT_TRUE(result.lines.isEmpty());
    }
}

// Only a regular file within the size is read: a device or a pipe would stall the window or
// fill the memory, a file larger than any motion file is none. A pipe without a writer is not
// waited on.
TEST(LoadTextLines, RefusesAnythingButARegularFileWithinTheSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exact = dir.filePath(u"exact.kmf"_s);
    WriteBytes(exact, "1,2\r\n3\r\n");
    const TextFileResult fits = LoadTextLines(exact, NulRule::EndsText, 8);
    ASSERT_TRUE(fits.ok) << fits.error.toStdString();
    EXPECT_EQ(fits.lines, (L{"1,2", "3"}));
    EXPECT_TRUE(LoadTextLines(exact, NulRule::EndsText, -1).ok) << "no limit";

    struct Case {
        const char* what;
        QString path;
        qint64 maxBytes;
    };
    std::vector<Case> cases{{"one byte too many", exact, 7}};
#ifdef Q_OS_UNIX
    const UnwrittenFifo fifo(dir.filePath(u"pipe.kmf"_s).toStdString());
    cases.push_back({"a FIFO", QString::fromStdString(fifo.path()), 1'000'000});
    cases.push_back({"a FIFO, the settings' way", QString::fromStdString(fifo.path()), -1});
    cases.push_back({"an endless device", u"/dev/zero"_s, 1'000'000});
    cases.push_back({"an endless device, the settings' way", u"/dev/zero"_s, -1});
    cases.push_back({"an empty device", u"/dev/null"_s, 1'000'000});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TextFileResult result = LoadTextLines(c.path, NulRule::EndsText, c.maxBytes);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.isEmpty());
        EXPECT_TRUE(result.lines.isEmpty());
    }
}

TEST(FileErrorTexts, NameThePathAfterTheBilingualCaption) {
    EXPECT_EQ(FileReadErrorText(u"/tmp/a.kmf"_s),
              u"ファイル読み込みエラー\r\nFile read error\r\n\r\n/tmp/a.kmf"_s);
    EXPECT_EQ(FileWriteErrorText(u"/tmp/a.kmf"_s, u"Disk full"_s),
              u"ファイル書き込みエラー\r\nFile write error\r\n\r\n/tmp/a.kmf\r\nDisk full"_s);
}

struct TruncateCase {
    double value;
    int32_t expected;
};

class TruncateToInt32Test : public ::testing::TestWithParam<TruncateCase> {};

TEST_P(TruncateToInt32Test, TruncatesTowardZeroWithinTheRange) {
    // Values beyond the range are clamped before the conversion, which would be undefined.
    EXPECT_EQ(TruncateToInt32(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TruncateToInt32Test,
    ::testing::Values(TruncateCase{45.6, 45}, TruncateCase{-45.6, -45}, TruncateCase{0.0, 0},
                      TruncateCase{2147483647.9, INT32_MAX}, TruncateCase{-2147483648.9, INT32_MIN},
                      TruncateCase{3e9, INT32_MAX}, TruncateCase{-3e9, INT32_MIN},
                      TruncateCase{double(1e30f), INT32_MAX}, TruncateCase{-1e30, INT32_MIN},
                      TruncateCase{std::numeric_limits<double>::infinity(), INT32_MAX},
                      TruncateCase{std::numeric_limits<double>::quiet_NaN(), 0}));

struct ZoneCase {
    const char* format;
    const char* expected;
};

class WithoutTimeZoneTest : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(WithoutTimeZoneTest, RemovesOnlyTheZoneField) {
    EXPECT_EQ(WithoutTimeZone(QString::fromUtf8(GetParam().format)),
              QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WithoutTimeZoneTest,
    ::testing::Values(ZoneCase{"h:mm:ss AP t", "h:mm:ss AP"}, ZoneCase{"HH:mm:ss t", "HH:mm:ss"},
                      ZoneCase{"H:mm:ss", "H:mm:ss"}, ZoneCase{"t HH:mm:ss", "HH:mm:ss"},
                      ZoneCase{"AP h:mm:ss tttt", "AP h:mm:ss"},
                      ZoneCase{"H時mm分ss秒 t", "H時mm分ss秒"},
                      // A "t" inside a quoted literal is text, not the zone.
                      ZoneCase{"HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss 's'"},
                      ZoneCase{"'at' HH:mm:ss t", "'at' HH:mm:ss"},
                      ZoneCase{"HH:mm 'o''clock' t", "HH:mm 'o''clock'"},
                      ZoneCase{"'It''s' t H:mm", "'It''s' H:mm"}));

} // namespace
} // namespace kobito
