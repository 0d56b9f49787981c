#pragma once
// The motion table: the one store of the 100 poses, shown by the motion-list grid.

#include "Channels.h"
#include "MotionFile.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace kobito {

// Column 0 is the row number, columns 1..16 hold channels 0..15 as free text. The user cannot
// edit cells; the program writes them through the functions below, which ignore rows and
// columns out of range and end a text at its first NUL. Every row operation sends one dataChanged
// for the cells it touched.
class MotionTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int RowCount = MotionRowCount;
    static constexpr int ColumnCount = ChannelCount + 1;

    explicit MotionTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Column 0 gives the row number; out of range gives an empty text.
    QString cell(int row, int col) const;
    // Columns 1..16 only: the row-number column never changes.
    void setCell(int row, int col, const QString& text);

    // The 16 channel cells of a row.
    QStringList rowValues(int row) const;
    // Sets channel cells 0..min(n,16)-1; cells without a value keep theirs.
    void setRowValues(int row, const QStringList& values);

    // 16 × "0".
    void clearRow(int row);
    void copyRow(int from, int to);
    // Rows row..98 move down by one (row 99 is dropped) and row becomes all "0".
    void insertClearedRow(int row);
    // Rows row+1..99 move up by one and row 99 becomes all "0".
    void deleteRow(int row);
    // Every channel cell "0".
    void clearAll();
    // All cells "0", then filled from the first 100 lines by the motion-file rule.
    void fromLines(const QStringList& lines);
    // 100 rows of 16 cells, as SaveMotionFile takes them.
    QList<QStringList> toRows() const;

    // Header of column 0: "***" while true, empty while false.
    bool modifiedHeader() const { return modifiedHeader_; }
    void setModifiedHeader(bool modified);

private:
    using Row = std::array<QString, ChannelCount>;

    static bool validRow(int row) { return row >= 0 && row < RowCount; }
    static Row clearedRow();
    void emitRowsChanged(int firstRow, int lastRow);

    std::array<Row, RowCount> rows_;
    bool modifiedHeader_ = false;
};

} // namespace kobito
