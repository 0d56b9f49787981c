#include "RowSelection.h"

TOneRowSelection::TOneRowSelection(QAbstractItemModel* model, QObject* parent)
    : QItemSelectionModel(model, parent) {
    // Not every way of changing the selection can be overridden (clearSelection
    // is not virtual), but every one is announced.
    connect(this, &QItemSelectionModel::selectionChanged, this,
            &TOneRowSelection::SelectCurrentRow);
    connect(this, &QItemSelectionModel::currentChanged, this, &TOneRowSelection::SelectCurrentRow);
}

void TOneRowSelection::SelectCurrentRow() {
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    const int columns = model()->columnCount(current.parent());
    if (isRowSelected(row, current.parent()) && selectedIndexes().size() == columns)
        return;
    select(QItemSelection(model()->index(row, 0, current.parent()),
                          model()->index(row, columns - 1, current.parent())),
           ClearAndSelect);
}
