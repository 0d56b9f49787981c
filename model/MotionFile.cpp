#include "MotionFile.h"

#include "Channels.h"
#include "TextRules.h"

#include <algorithm>

namespace kobito {

QStringList DecodeMotionLine(const QString& line, QChar delimiter) {
    QStringList values;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n) {
        QString value;
        if (line[i] == u'"') {
            ++i;
            for (;;) {
                const qsizetype quote = line.indexOf(u'"', i);
                if (quote < 0) {
                    value += QStringView(line).sliced(i);
                    i = n;
                    break;
                }
                value += QStringView(line).sliced(i, quote - i);
                if (quote + 1 < n && line[quote + 1] == u'"') {
                    value += u'"';
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
            value = line.sliced(i, comma - i);
            i = comma;
        }
        values.append(value);
        if (i < n && line[i] == delimiter) {
            if (i == n - 1)
                values.append(QString());
            ++i;
        }
    }
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

QList<QStringList> MotionRowsFromText(const QString& text) {
    QList<QStringList> rows;
    for (const QString& line : SplitLines(text)) {
        // Spreadsheet cells may hold commas (a decimal comma, say); a table cell holds a tab
        // only if one was pasted into an edit box.
        const QChar delimiter = line.contains(u'\t') ? u'\t' : u',';
        rows.append(MotionRowFromValues(DecodeMotionLine(line, delimiter)));
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
