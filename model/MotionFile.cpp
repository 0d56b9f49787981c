#include "MotionFile.h"

#include "Channels.h"
#include "TextRules.h"

#include <algorithm>

namespace kobito {

namespace {

// The decoding rule of DecodeMotionLine, stopping after maxValues values. Each value's text goes
// to piece() in one or more pieces (a quoted value comes in pieces around its doubled quotes);
// done() ends the value.
template <typename Piece, typename Done>
void SplitMotionLine(QStringView line, QChar delimiter, qsizetype maxValues, Piece piece,
                     Done done) {
    const qsizetype n = line.size();
    qsizetype i = 0;
    qsizetype count = 0;
    while (i < n && count < maxValues) {
        if (line[i] == u'"') {
            ++i;
            for (;;) {
                const qsizetype quote = line.indexOf(u'"', i);
                if (quote < 0) {
                    piece(line.sliced(i));
                    i = n;
                    break;
                }
                piece(line.sliced(i, quote - i));
                if (quote + 1 < n && line[quote + 1] == u'"') {
                    piece(QStringView(u"\""));
                    i = quote + 2;
                } else {
                    i = quote + 1;
                    break;
                }
            }
        } else {
            qsizetype comma = line.indexOf(delimiter, i);
            if (comma < 0)
                comma = n;
            piece(line.sliced(i, comma - i));
            i = comma;
        }
        done();
        ++count;
        if (i < n && line[i] == delimiter) {
            if (i == n - 1 && count < maxValues) {
                done();
                ++count;
            }
            ++i;
        }
    }
}

bool IsControlOrBlank(QChar c) {
    return c.unicode() <= 0x20;
}

// One pasted value built from its pieces: up to a NUL, without blanks and control characters
// at either end, at most MotionCellMaxLength characters. Pieces after that are only skipped.
class PastedValue {
public:
    void add(QStringView piece) {
        if (closed_)
            return;
        const qsizetype nul = piece.indexOf(QChar(u'\0'));
        if (nul >= 0) {
            piece = piece.first(nul);
            closed_ = true;
        }
        if (text_.isEmpty()) {
            qsizetype begin = 0;
            while (begin < piece.size() && IsControlOrBlank(piece[begin]))
                ++begin;
            piece = piece.sliced(begin);
        }
        const qsizetype room = MotionCellMaxLength - text_.size();
        if (piece.size() >= room) {
            piece = piece.first(room);
            closed_ = true;
        }
        text_ += piece;
    }
    QString take() {
        QString value = TrimControl(text_);
        text_.clear();
        closed_ = false;
        return value;
    }

private:
    QString text_;
    bool closed_ = false;
};

} // namespace

QStringList DecodeMotionLine(const QString& line, QChar delimiter) {
    QStringList values;
    QString value;
    SplitMotionLine(
        line, delimiter, line.size() + 1, [&value](QStringView piece) { value += piece; },
        [&] {
            values.append(value);
            value.clear();
        });
    return values;
}

QString EncodeMotionLine(const QStringList& values) {
    QString line;
    for (qsizetype k = 0; k < values.size(); ++k) {
        if (k > 0)
            line += u',';
        const QString& value = values[k];
        if (value.contains(u'"') || value.contains(u',')) {
            QString quoted = value;
            quoted.replace(u'"', QStringLiteral("\"\""));
            line += u'"';
            line += quoted;
            line += u'"';
        } else {
            line += value;
        }
    }
    return line;
}

QStringList MotionRowFromValues(const QStringList& values) {
    QStringList row(ChannelCount, QStringLiteral("0"));
    const qsizetype valueCount = std::min<qsizetype>(values.size(), ChannelCount);
    for (qsizetype k = 0; k < valueCount; ++k)
        row[k] = TrimControl(values[k]);
    return row;
}

QList<QStringList> MotionRowsFromLines(const QStringList& lines) {
    QList<QStringList> rows(MotionRowCount, QStringList(ChannelCount, QStringLiteral("0")));
    const qsizetype lineCount = std::min<qsizetype>(lines.size(), MotionRowCount);
    for (qsizetype r = 0; r < lineCount; ++r)
        rows[r] = MotionRowFromValues(DecodeMotionLine(lines[r]));
    return rows;
}

QString EncodeMotionRow(const QStringList& row) {
    QStringList trimmed;
    trimmed.reserve(row.size());
    for (const QString& value : row)
        trimmed.append(TrimControl(value));
    return EncodeMotionLine(trimmed);
}

QList<QStringList> MotionRowsFromText(const QString& text, qsizetype maxRows) {
    QList<QStringList> rows;
    const QStringView all(text);
    const qsizetype n = all.size();
    qsizetype start = 0;
    // The line splitting of SplitLines, one line at a time.
    while (start < n && rows.size() < maxRows) {
        qsizetype end = start;
        while (end < n && all[end] != u'\r' && all[end] != u'\n')
            ++end;
        const QStringView line = all.sliced(start, end - start);
        start = end + (end + 1 < n && all[end] == u'\r' && all[end + 1] == u'\n' ? 2 : 1);
        // Spreadsheet cells may hold commas (a decimal comma, say); a table cell holds a tab
        // only if one was pasted into an edit box.
        const QChar delimiter = line.contains(u'\t') ? u'\t' : u',';
        QStringList row;
        PastedValue value;
        SplitMotionLine(
            line, delimiter, ChannelCount, [&value](QStringView piece) { value.add(piece); },
            [&] { row.append(value.take()); });
        rows.append(row);
    }
    return rows;
}

QByteArray EncodeMotionFile(const QList<QStringList>& rows) {
    QStringList lines;
    lines.reserve(rows.size());
    for (const QStringList& row : rows)
        lines.append(EncodeMotionRow(row));
    return EncodeLines(lines, DefaultSaveEncoding());
}

void SaveMotionFile(const QString& path, const QList<QStringList>& rows) {
    WriteFileAtomically(path, EncodeMotionFile(rows));
}

} // namespace kobito
