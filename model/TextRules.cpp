#include "TextRules.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "WindowsFiles.h"

#include <QDir>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kobito {

namespace {

int DigitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16) {
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
    }
    return -1;
}

bool IsControlOrBlank(QChar c) {
    return c.unicode() <= 0x20;
}

constexpr char Utf8Mark[] = "\xEF\xBB\xBF";
constexpr char Utf16LEMark[] = "\xFF\xFE";
constexpr char Utf16BEMark[] = "\xFE\xFF";

// The mark has been stripped already: a second one is text, not a mark.
constexpr auto KeepMarks = QStringConverter::Flag::ConvertInitialBom;

#ifdef Q_OS_WIN
QString WindowsErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = length != 0 ? QString::fromWCharArray(buffer, int(length)).trimmed()
                               : QStringLiteral("Windows error %1").arg(code);
    if (buffer != nullptr)
        LocalFree(buffer);
    return text;
}

// QFile always lets others write; a motion file must not change under us while we read it.
bool ReadWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString& error) {
    std::string data;
    unsigned long code = 0;
    if (!ReadWholeFileShared(QDir::toNativeSeparators(path).toStdWString(), maxBytes, data, code)) {
        error = WindowsErrorText(DWORD(code));
        return false;
    }
    bytes = QByteArray(data.data(), qsizetype(data.size()));
    return true;
}
#else
bool ReadWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString& error) {
    // Without waiting: a FIFO that no one writes to would hold the open until someone does.
    // Only a regular file is read, so a device or a pipe never stalls or floods the program.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = qt_error_string(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok)
        error = qt_error_string(errno);
    else if (!S_ISREG(info.st_mode))
        error = QStringLiteral("Not a regular file");
    else if (maxBytes >= 0 && info.st_size > maxBytes)
        error = qt_error_string(EFBIG);
    ok = ok && error.isEmpty();
    QByteArray data;
    if (ok)
        data.reserve(qsizetype(info.st_size));
    // A file that grows while it is read stops at the limit plus one byte, and is refused.
    const qint64 limit = maxBytes >= 0 ? maxBytes + 1 : std::numeric_limits<qint64>::max();
    char buffer[65536];
    while (ok && data.size() < limit) {
        const ssize_t got = ::read(
            fd, buffer, size_t(std::min<qint64>(qint64(sizeof buffer), limit - data.size())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = qt_error_string(errno);
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            data.append(buffer, qsizetype(got));
        }
    }
    if (ok && data.size() >= limit) {
        error = qt_error_string(EFBIG);
        ok = false;
    }
    ::close(fd);
    if (ok)
        bytes = std::move(data);
    return ok;
}
#endif

} // namespace

int StrToIntDef(const QString& text, int def) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return def;
    const qint64 limit = negative ? qint64(1) << 31 : (qint64(1) << 31) - 1;
    qint64 magnitude = 0;
    for (; i < n; ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0)
            return def;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return def;
    }
    return int(negative ? -magnitude : magnitude);
}

float StrToFloatDef(const QString& text, float def) {
    bool ok = false;
    float value = QLocale().toFloat(text, &ok);
    if (!ok)
        value = QLocale::c().toFloat(text, &ok);
    // A NaN or infinite bound would make every later clamp meaningless.
    if (!ok || !std::isfinite(value))
        return def;
    return value;
}

int32_t TruncateToInt32(double value) {
    if (std::isnan(value))
        return 0;
    // Clamped first: converting a value outside the range is undefined.
    const double truncated = std::trunc(value);
    if (truncated <= double(INT32_MIN))
        return INT32_MIN;
    if (truncated >= double(INT32_MAX))
        return INT32_MAX;
    return int32_t(truncated);
}

QString WithoutTimeZone(const QString& format) {
    QString out;
    out.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted; // "''" toggles twice: a literal quote
        } else if (!quoted && c == u't') {
            while (i + 1 < format.size() && format[i + 1] == u't')
                ++i;
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            // A leading field takes the blanks after it instead.
            if (out.isEmpty())
                while (i + 1 < format.size() && format[i + 1].isSpace())
                    ++i;
            continue;
        }
        out += c;
    }
    return out;
}

QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsControlOrBlank(text[begin]))
        ++begin;
    while (end > begin && IsControlOrBlank(text[end - 1]))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.sliced(begin, end - begin);
}

TextEncoding DefaultSaveEncoding() {
#ifdef Q_OS_WIN
    return GetACP() == CP_UTF8 ? TextEncoding::Utf8 : TextEncoding::Default8Bit;
#else
    return TextEncoding::Default8Bit;
#endif
}

QStringList SplitLines(const QString& text) {
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.sliced(start));
    return lines;
}

DecodedText DecodeText(const QByteArray& bytes, NulRule nul) {
    DecodedText result;
    QByteArrayView body(bytes);
    QStringConverter::Encoding codec = QStringConverter::System;
    if (body.startsWith(QByteArrayView(Utf8Mark))) {
        result.encoding = TextEncoding::Utf8;
        codec = QStringConverter::Utf8;
        body = body.sliced(3);
    } else if (body.startsWith(QByteArrayView(Utf16LEMark))) {
        result.encoding = TextEncoding::Utf16LE;
        codec = QStringConverter::Utf16LE;
        body = body.sliced(2);
    } else if (body.startsWith(QByteArrayView(Utf16BEMark))) {
        result.encoding = TextEncoding::Utf16BE;
        codec = QStringConverter::Utf16BE;
        body = body.sliced(2);
    }
    // A stray last byte of UTF-16 is half a character: drop it rather than guess.
    if (codec == QStringConverter::Utf16LE || codec == QStringConverter::Utf16BE)
        body = body.first(body.size() & ~qsizetype(1));

    QStringDecoder decoder(codec, KeepMarks);
    QString text = decoder.decode(body);
    if (nul == NulRule::EndsText) {
        const qsizetype end = text.indexOf(QChar(u'\0'));
        if (end >= 0)
            text.truncate(end);
    }
    result.lines = SplitLines(text);
    return result;
}

QByteArray EncodeLines(const QStringList& lines, TextEncoding encoding) {
    QString text;
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const QString& line : lines) {
        text += line;
        text += u"\r\n";
    }

    QByteArray bytes;
    QStringConverter::Encoding codec = QStringConverter::System;
    switch (encoding) {
    case TextEncoding::Default8Bit: {
        // A code page that cannot hold the text would turn it into question marks for good;
        // UTF-8 with its mark reads back the same everywhere.
        QStringEncoder encoder(QStringConverter::System);
        QByteArray narrow = encoder.encode(text);
        // A leading U+FEFF written bare would be read back as the mark and lost.
        if (!text.startsWith(QChar(0xFEFF)) &&
            QStringDecoder(QStringConverter::System, KeepMarks).decode(narrow) == text)
            return narrow;
        if (QStringDecoder(QStringConverter::Utf8, KeepMarks).decode(text.toUtf8()) != text)
            return narrow;
        bytes = Utf8Mark;
        codec = QStringConverter::Utf8;
        break;
    }
    case TextEncoding::Utf8:
        bytes = Utf8Mark;
        codec = QStringConverter::Utf8;
        break;
    case TextEncoding::Utf16LE:
        bytes = QByteArray(Utf16LEMark, 2);
        codec = QStringConverter::Utf16LE;
        break;
    case TextEncoding::Utf16BE:
        bytes = QByteArray(Utf16BEMark, 2);
        codec = QStringConverter::Utf16BE;
        break;
    }
    QStringEncoder encoder(codec);
    bytes += encoder.encode(text);
    return bytes;
}

TextFileResult LoadTextLines(const QString& path, NulRule nul, qint64 maxBytes) {
    TextFileResult result;
    QByteArray bytes;
    if (!ReadWholeFile(path, maxBytes, bytes, result.error))
        return result;
    DecodedText decoded = DecodeText(bytes, nul);
    result.ok = true;
    result.lines = std::move(decoded.lines);
    result.encoding = decoded.encoding;
    return result;
}

QString FileReadErrorText(const QString& path) {
    return QStringLiteral("ファイル読み込みエラー\r\nFile read error\r\n\r\n") + path;
}

QString FileWriteErrorText(const QString& path, const QString& reason) {
    return QStringLiteral("ファイル書き込みエラー\r\nFile write error\r\n\r\n") + path +
           QStringLiteral("\r\n") + reason;
}

} // namespace kobito
