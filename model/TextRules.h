#pragma once
// Conversions and text-file rules shared by the editor, the motion files and the settings file.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace kobito {

// Integer of a text: optional leading blanks, an optional sign, then decimal digits to the end,
// or hexadecimal digits after "$", "x" or "0x" (either case). Anything else, a value outside
// 32 bits included, gives def.
int StrToIntDef(const QString& text, int def);

// Floating-point number in the user's locale (falling back to the C locale, so "10.7" works
// everywhere); blanks around it are allowed. Text that does not convert, infinity and NaN give def.
float StrToFloatDef(const QString& text, float def);

// A value truncated toward zero, as a slider is read; values beyond the 32-bit range give its
// nearest end, NaN gives 0.
int32_t TruncateToInt32(double value);

// A date-time format of QLocale without its time-zone field ("t" outside quotes) and the blanks
// that separated it; quoted literals stay as they are.
QString WithoutTimeZone(const QString& format);

// Removes the characters U+0000..U+0020 from both ends.
QString TrimControl(const QString& text);

enum class TextEncoding {
    // The system's 8-bit code page (UTF-8 outside Windows), written without a mark; a text the
    // code page cannot hold is written as UTF-8 with its mark instead of losing characters.
    Default8Bit,
    Utf8,    // written with EF BB BF
    Utf16LE, // written with FF FE
    Utf16BE, // written with FE FF
};

// Encoding for files the program creates: the default 8-bit code page, except UTF-8 with its
// mark where that code page is UTF-8 on Windows.
TextEncoding DefaultSaveEncoding();

struct DecodedText {
    QStringList lines;
    TextEncoding encoding = TextEncoding::Default8Bit;
};

// What a NUL character means in a text file.
enum class NulRule {
    EndsText, // motion files: the text ends before the first NUL
    IsText,   // the settings file: a stray NUL must not cost the sections after it
};

// Byte-order mark detection (EF BB BF, FF FE, FE FF, else the default 8-bit code page; the mark
// is skipped), then the text (up to the first NUL by NulRule::EndsText) split at CR LF, lone CR
// and lone LF. A line break at the very end adds no empty line.
DecodedText DecodeText(const QByteArray& bytes, NulRule nul = NulRule::EndsText);

// The line splitting of DecodeText on its own.
QStringList SplitLines(const QString& text);

// Every line followed by CR LF, encoded with the mark of the encoding (if it has one).
QByteArray EncodeLines(const QStringList& lines, TextEncoding encoding);

struct TextFileResult {
    bool ok = false;
    QStringList lines;
    TextEncoding encoding = TextEncoding::Default8Bit;
    QString error; // the system's reason when !ok
};

// Reads a whole text file (other programs may read it meanwhile, on Windows not write it) and
// decodes it with DecodeText. Only a regular file is read, and only if it holds at most maxBytes
// bytes (a negative maxBytes: any size); a device, a pipe or a larger file fails unread, without
// waiting for a writer.
TextFileResult LoadTextLines(const QString& path, NulRule nul = NulRule::EndsText,
                             qint64 maxBytes = -1);

// "ファイル読み込みエラー\r\nFile read error\r\n\r\n" followed directly by the path.
QString FileReadErrorText(const QString& path);

// The write failure counterpart, with the system's reason on a line of its own.
QString FileWriteErrorText(const QString& path, const QString& reason);

} // namespace kobito
