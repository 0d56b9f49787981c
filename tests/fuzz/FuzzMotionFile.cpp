// The motion file reader on arbitrary bytes: each line's values, the table
// built from the lines (as a list and in the window's table model), and the
// table written and read back unchanged.
#include "FuzzCheck.h"

#include "Channels.h"
#include "MotionFile.h"
#include "MotionTable.h"
#include "TextRules.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

bool Trimmed(const QString& value) {
    return value.isEmpty() || (value.front().unicode() > 0x20 && value.back().unicode() > 0x20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = kobito::DecodeText(bytes).lines;

    bool wellFormed = true;
    QList<qsizetype> valueCounts;
    for (const QString& line : lines) {
        wellFormed = wellFormed && line.isValidUtf16();
        const QStringList values = kobito::DecodeMotionLine(line);
        FUZZ_CHECK(values.isEmpty() == line.isEmpty());
        valueCounts.append(values.size());
        // No value takes more than its line had.
        qsizetype chars = 0;
        for (const QString& value : values)
            chars += value.size();
        FUZZ_CHECK(chars <= line.size());
        // Values written as a line decode to themselves; one empty value is
        // the only list that writes as the empty line, which has none.
        if (values != QStringList{QString()})
            FUZZ_CHECK(kobito::DecodeMotionLine(kobito::EncodeMotionLine(values)) == values);
    }

    const QList<QStringList> rows = kobito::MotionRowsFromLines(lines);
    FUZZ_CHECK(rows.size() == kobito::MotionRowCount);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        FUZZ_CHECK(rows[r].size() == kobito::ChannelCount);
        for (qsizetype k = 0; k < rows[r].size(); ++k) {
            FUZZ_CHECK(Trimmed(rows[r][k]));
            // Missing lines and values read as "0".
            if (r >= lines.size() || k >= valueCounts[r])
                FUZZ_CHECK(rows[r][k] == QStringLiteral("0"));
        }
    }

    // The window's table takes the lines by the same rule, whatever it held.
    static kobito::MotionTableModel table;
    table.fromLines(lines);
    FUZZ_CHECK(table.toRows() == rows);

    // Saving what was opened and opening it again gives the same table.
    if (wellFormed) {
        const QByteArray saved = kobito::EncodeMotionFile(rows);
        FUZZ_CHECK(kobito::MotionRowsFromLines(kobito::DecodeText(saved).lines) == rows);
    }
    return 0;
}
