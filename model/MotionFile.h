#pragma once
// The motion file: one line per table row, 16 comma-separated values, CR LF after every line.

#include "FileError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kobito {

inline constexpr int MotionRowCount = 100;

// One line to its values: a value starting with a double quote runs to the next undoubled
// quote (an unclosed one takes the rest of the line) and text right after the closing quote
// starts the next value; a comma ending the line adds an empty value; an empty line has none.
QStringList DecodeMotionLine(const QString& line);

// Values to one line: a value holding a comma or a double quote is quoted, quotes doubled.
QString EncodeMotionLine(const QStringList& values);

// Lines to exactly MotionRowCount rows of ChannelCount values: "0" where a line or value is
// missing, values trimmed of U+0000..U+0020, lines and values beyond the table ignored.
QList<QStringList> MotionRowsFromLines(const QStringList& lines);

// The file's bytes for the rows: every value trimmed, every line followed by CR LF, in the
// encoding DefaultSaveEncoding() names.
QByteArray EncodeMotionFile(const QList<QStringList>& rows);

// Writes EncodeMotionFile(rows) to path; the old file survives any failure.
// Throws FileError naming the path and the system's reason.
void SaveMotionFile(const QString& path, const QList<QStringList>& rows);

} // namespace kobito
