#pragma once
#include <QItemSelectionModel>

// The selection of a grid that always has exactly one selected row: the
// current row. Whatever a click, key or drag asks for (a Ctrl+click on the
// selected row, a click beside the cells), the current row stays selected, so
// the row the row operations act on is always the one shown.
class TOneRowSelection : public QItemSelectionModel {
    Q_OBJECT
public:
    explicit TOneRowSelection(QAbstractItemModel* model, QObject* parent = nullptr);

private:
    void SelectCurrentRow();
};
