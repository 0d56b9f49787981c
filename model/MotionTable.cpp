#include "MotionTable.h"

#include <algorithm>

namespace kobito {

namespace {

// A cell never holds a NUL: saved, it would end the file's text there when read back, and
// every later row with it. The text ends at the NUL, as the reader would end it.
QString CellText(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.first(nul);
}

} // namespace

MotionTableModel::MotionTableModel(QObject* parent) : QAbstractTableModel(parent) {
    rows_.fill(clearedRow());
}

MotionTableModel::Row MotionTableModel::clearedRow() {
    Row row;
    row.fill(QStringLiteral("0"));
    return row;
}

int MotionTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount;
}

int MotionTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MotionTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cell(index.row(), index.column());
    case Qt::TextAlignmentRole:
        // As a plain int: the delegates of every Qt 6 version read it that way.
        return int(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant MotionTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == 0)
        return modifiedHeader_ ? QStringLiteral("***") : QString();
    if (section >= 1 && section < ColumnCount) {
        const std::string_view name = ChannelNames[std::size_t(section - 1)];
        return QString::fromLatin1(name.data(), qsizetype(name.size()));
    }
    return {};
}

Qt::ItemFlags MotionTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QString MotionTableModel::cell(int row, int col) const {
    if (!validRow(row) || col < 0 || col >= ColumnCount)
        return {};
    if (col == 0)
        return QString::number(row);
    return rows_[std::size_t(row)][std::size_t(col - 1)];
}

void MotionTableModel::setCell(int row, int col, const QString& text) {
    if (!validRow(row) || col < 1 || col >= ColumnCount)
        return;
    QString& target = rows_[std::size_t(row)][std::size_t(col - 1)];
    const QString value = CellText(text);
    if (target == value)
        return;
    target = value;
    const QModelIndex changed = index(row, col);
    emit dataChanged(changed, changed);
}

QStringList MotionTableModel::rowValues(int row) const {
    if (!validRow(row))
        return {};
    const Row& source = rows_[std::size_t(row)];
    return QStringList(source.begin(), source.end());
}

void MotionTableModel::setRowValues(int row, const QStringList& values) {
    if (!validRow(row))
        return;
    const qsizetype count = std::min<qsizetype>(values.size(), ChannelCount);
    Row& target = rows_[std::size_t(row)];
    for (qsizetype k = 0; k < count; ++k)
        target[std::size_t(k)] = CellText(values[k]);
    emitRowsChanged(row, row);
}

void MotionTableModel::clearRow(int row) {
    if (!validRow(row))
        return;
    rows_[std::size_t(row)] = clearedRow();
    emitRowsChanged(row, row);
}

void MotionTableModel::copyRow(int from, int to) {
    if (!validRow(from) || !validRow(to))
        return;
    rows_[std::size_t(to)] = rows_[std::size_t(from)];
    emitRowsChanged(to, to);
}

void MotionTableModel::insertClearedRow(int row) {
    if (!validRow(row))
        return;
    for (int d = RowCount - 1; d > row; --d)
        rows_[std::size_t(d)] = std::move(rows_[std::size_t(d - 1)]);
    rows_[std::size_t(row)] = clearedRow();
    emitRowsChanged(row, RowCount - 1);
}

void MotionTableModel::deleteRow(int row) {
    if (!validRow(row))
        return;
    for (int d = row; d < RowCount - 1; ++d)
        rows_[std::size_t(d)] = std::move(rows_[std::size_t(d + 1)]);
    rows_[RowCount - 1] = clearedRow();
    emitRowsChanged(row, RowCount - 1);
}

void MotionTableModel::clearAll() {
    rows_.fill(clearedRow());
    emitRowsChanged(0, RowCount - 1);
}

void MotionTableModel::fromLines(const QStringList& lines) {
    const QList<QStringList> rows = MotionRowsFromLines(lines);
    for (std::size_t r = 0; r < rows_.size(); ++r)
        for (std::size_t k = 0; k < std::size_t(ChannelCount); ++k)
            rows_[r][k] = rows[qsizetype(r)][qsizetype(k)];
    emitRowsChanged(0, RowCount - 1);
}

QList<QStringList> MotionTableModel::toRows() const {
    QList<QStringList> rows;
    rows.reserve(RowCount);
    for (const Row& row : rows_)
        rows.append(QStringList(row.begin(), row.end()));
    return rows;
}

void MotionTableModel::setModifiedHeader(bool modified) {
    if (modifiedHeader_ == modified)
        return;
    modifiedHeader_ = modified;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void MotionTableModel::emitRowsChanged(int firstRow, int lastRow) {
    emit dataChanged(index(firstRow, 1), index(lastRow, ColumnCount - 1));
}

} // namespace kobito
