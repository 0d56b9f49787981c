// The motion table and its row operations, New, Apply and the modified flag.
#include "uMain.h"

#include "EditBox.h"
#include "RowSelection.h"
#include "Switch.h"

#include "Channels.h"
#include "MotionTable.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>

void TForm1::InitMotionTable() {
    m_motionModel = new kobito::MotionTableModel(this);
    grdMotion->setModel(m_motionModel);
    // The grid always has one selected row, and it is the row the operations act on.
    QItemSelectionModel* stock = grdMotion->selectionModel();
    grdMotion->setSelectionModel(new TOneRowSelection(m_motionModel, grdMotion));
    delete stock;
    grdMotion->setColumnWidth(0, 28);
    for (int c = 1; c <= kobito::ChannelCount; ++c)
        grdMotion->setColumnWidth(c, 36);
    ClearMotionTable();
}

void TForm1::ClearRow(int row) {
    m_motionModel->clearRow(row);
    SetDataChanged(true);
}

void TForm1::CopyRow(int from, int to) {
    m_motionModel->copyRow(from, to);
    SetDataChanged(true);
}

void TForm1::ClearMotionTable() {
    for (int r = 0; r < 100; ++r)
        m_motionModel->clearRow(r);
    SelectRow(0);
    SetDataChanged(true);
}

void TForm1::SetDataChanged(bool changed) {
    DataChanged = changed;
    m_motionModel->setModifiedHeader(changed);
}

bool TForm1::IsDataChanged() const {
    return DataChanged;
}

int TForm1::SelectedRow() const {
    const QModelIndex current = grdMotion->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TForm1::SelectRow(int row) {
    const QModelIndex index = m_motionModel->index(row, 1);
    grdMotion->setCurrentIndex(index);
    grdMotion->selectRow(row);
}

void TForm1::btnFileNewClick() {
    if (IsDataChanged() && !ConfirmDiscard())
        return;
    ClearMotionTable();
    SetDataChanged(false);
    StartNewHistory();
}

void TForm1::btnRowClearClick() {
    const int s = SelectedRow();
    if (s >= 0 && s < 100)
        ClearRow(s);
}

void TForm1::btnRowEditClick() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    for (int i = 0; i < kobito::ChannelCount; ++i)
        dim_edit[size_t(i)]->SetText(m_motionModel->cell(s, i + 1));
}

void TForm1::btnRowInsertClick() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    for (int d = 99; d > s; --d)
        CopyRow(d - 1, d);
    ClearRow(s);
    SelectRow(s);
}

void TForm1::btnRowDeleteClick() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    for (int d = s; d < 99; ++d)
        CopyRow(d + 1, d);
    ClearRow(99);
    SelectRow(s);
}

void TForm1::btnApplyClick() {
    const int s = SelectedRow();
    if (s >= 0 && s < 100) {
        for (int i = 0; i < kobito::ChannelCount; ++i)
            m_motionModel->setCell(s, i + 1, dim_edit[size_t(i)]->Text());
        if (SwiAutoIncr->IsChecked() && s < 99)
            SelectRow(s + 1);
    }
    SetDataChanged(true);
}

void TForm1::SwiAutoIncrSwitch() {
    lblAutoIncr->setText(SwiAutoIncr->IsChecked() ? QStringLiteral("ON") : QStringLiteral("OFF"));
}
