#pragma once
// The motion file: one line per table row, 16 comma-separated values, CR LF after every line.

#include "Channels.h"
#include "FileError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kobito {

inline constexpr int MotionRowCount = 100;

// The longest text a pasted value keeps: as much as a channel edit box holds, so that any row
// the editor can make pastes back whole, while a stray megabyte of text stays out of the table.
inline constexpr qsizetype MotionCellMaxLength = 32767;

// More bytes than any motion file holds: 100 lines of 16 values of MotionCellMaxLength
// characters, each quoted and made of doubled quotes in UTF-16 (4 n + 4 bytes), with commas,
// line ends and a byte-order mark. A larger file is refused unread.
inline constexpr qint64 MotionFileMaxBytes =
    qint64(MotionRowCount) *
        (ChannelCount * (4 * qint64(MotionCellMaxLength) + 4) + 2 * (ChannelCount - 1 + 2)) +
    2;

// One line to its values: a value starting with a double quote runs to the next undoubled
// quote (an unclosed one takes the rest of the line) and text right after the closing quote
// starts the next value; a delimiter ending the line adds an empty value; an empty line has
// none. Spreadsheets copy rows by the same rule with a tab as the delimiter.
QStringList DecodeMotionLine(const QString& line, QChar delimiter = u',');

// Values to one line: a value holding a comma or a double quote is quoted, quotes doubled.
QString EncodeMotionLine(const QStringList& values);

// One table row of decoded values: ChannelCount values, trimmed of U+0000..U+0020, "0" where a
// value is missing, values beyond the row ignored.
QStringList MotionRowFromValues(const QStringList& values);

// Lines to exactly MotionRowCount rows of ChannelCount values: "0" where a line or value is
// missing, values trimmed of U+0000..U+0020, lines and values beyond the table ignored.
QList<QStringList> MotionRowsFromLines(const QStringList& lines);

// One row as the file holds it, without the line end: every value trimmed, then encoded.
QString EncodeMotionRow(const QStringList& row);

// Rows of a pasted text, one per line, at most maxRows of them: a line holding a tab is read as
// tab-separated, as spreadsheets copy rows, any other as a motion-file line. A row holds the
// line's first values, at most ChannelCount, each cut at a NUL (as a file's text ends there),
// trimmed of U+0000..U+0020 and then kept to MotionCellMaxLength characters. A short line gives
// a short row, so that the cells it has no value for keep theirs. Only what is kept is read.
QList<QStringList> MotionRowsFromText(const QString& text, qsizetype maxRows);

// The file's bytes for the rows: every value trimmed, every line followed by CR LF, in the
// encoding DefaultSaveEncoding() names.
QByteArray EncodeMotionFile(const QList<QStringList>& rows);

// Writes EncodeMotionFile(rows) to path; the old file survives any failure.
// Throws FileError naming the path and the system's reason.
void SaveMotionFile(const QString& path, const QList<QStringList>& rows);

} // namespace kobito
