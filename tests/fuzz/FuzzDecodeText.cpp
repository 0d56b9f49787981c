// The text-file decoder on arbitrary bytes: marks, odd UTF-16 lengths,
// invalid UTF-8 and NULs. Lines never hold a line break or a NUL, and
// writing them back in the detected encoding reads back as the same lines.
#include "FuzzCheck.h"

#include "TextRules.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

using kobito::DecodeText;
using kobito::EncodeLines;
using kobito::TextEncoding;

namespace {

TextEncoding ExpectedEncoding(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return TextEncoding::Utf8;
    if (bytes.startsWith("\xFF\xFE"))
        return TextEncoding::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return TextEncoding::Utf16BE;
    return TextEncoding::Default8Bit;
}

bool AllValidUtf16(const QStringList& lines) {
    for (const QString& line : lines)
        if (!line.isValidUtf16())
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const kobito::DecodedText decoded = DecodeText(bytes);

    FUZZ_CHECK(decoded.encoding == ExpectedEncoding(bytes));
    qsizetype chars = 0;
    for (const QString& line : decoded.lines) {
        FUZZ_CHECK(!line.contains(u'\r'));
        FUZZ_CHECK(!line.contains(u'\n'));
        FUZZ_CHECK(!line.contains(QChar(u'\0')));
        chars += line.size();
    }
    // Every UTF-16 unit comes from two bytes; UTF-8 never gives more units than bytes.
    if (decoded.encoding == TextEncoding::Utf16LE || decoded.encoding == TextEncoding::Utf16BE)
        FUZZ_CHECK(chars <= qsizetype(size) / 2);
    else
        FUZZ_CHECK(chars <= qsizetype(size));

    // Half a surrogate pair survives only in UTF-16; the other encodings
    // cannot carry it, so the round trip is checked for well-formed text.
    if (!AllValidUtf16(decoded.lines))
        return 0;
    const QByteArray written = EncodeLines(decoded.lines, decoded.encoding);
    const kobito::DecodedText reread = DecodeText(written);
    FUZZ_CHECK(reread.lines == decoded.lines);
    // Lines written in a code page come back in it or, when it cannot hold them, as UTF-8.
    if (decoded.encoding == TextEncoding::Default8Bit)
        FUZZ_CHECK(reread.encoding == TextEncoding::Default8Bit ||
                   reread.encoding == TextEncoding::Utf8);
    else
        FUZZ_CHECK(reread.encoding == decoded.encoding);
    return 0;
}
