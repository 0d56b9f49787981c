// The motion table's row operations, New, Apply and the modified flag.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Switch.h"

#include "MotionTable.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kZeros = "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";

class MotionList : public ::testing::Test {
protected:
    void SetUp() override {
        form.show();
        // Row r holds r in every cell, so moves are easy to follow.
        for (int r = 0; r < 100; ++r)
            for (int c = 1; c <= 16; ++c)
                access.SetCell(r, c, QString::number(r));
        access.SetDataChanged(false);
    }

    void Click(const char* name) {
        auto* button = form.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QString Row(int r) const { return access.RowText(r); }
    static QString Filled(int v) { return QStringList(16, QString::number(v)).join(','); }
    QString Header() const {
        return access.motionModel()->headerData(0, Qt::Horizontal).toString();
    }

    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};

} // namespace

TEST_F(MotionList, InsertAndDeleteMoveRowsAndClearTheFreedOne) {
    struct Case {
        const char* button;
        int row;
        // rows checked after the operation: row → the value it holds, -1 for cleared
        std::vector<std::pair<int, int>> expect;
    };
    const Case cases[] = {
        {"btnRowInsert", 0, {{0, -1}, {1, 0}, {50, 49}, {99, 98}}},
        {"btnRowInsert", 99, {{98, 98}, {99, -1}}},
        {"btnRowInsert", 40, {{39, 39}, {40, -1}, {41, 40}, {99, 98}}},
        {"btnRowDelete", 0, {{0, 1}, {98, 99}, {99, -1}}},
        {"btnRowDelete", 99, {{98, 98}, {99, -1}}},
        {"btnRowDelete", 40, {{39, 39}, {40, 41}, {98, 99}, {99, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " on row " + std::to_string(c.row));
        SetUp();
        access.SelectRow(c.row);
        Click(c.button);
        for (const auto& [row, value] : c.expect)
            EXPECT_EQ(Row(row), value < 0 ? kZeros : Filled(value)) << "row " << row;
        EXPECT_EQ(access.SelectedRow(), c.row);
        EXPECT_TRUE(access.DataChanged());
        EXPECT_EQ(Header(), "***");
        EXPECT_EQ(access.Cell(c.row, 0), QString::number(c.row)) << "row numbers stay";
    }
}

TEST_F(MotionList, NoClickKeyOrDragLeavesTheGridWithoutOneSelectedRow) {
    auto* grid = form.findChild<QTableView*>("grdMotion");
    ASSERT_NE(grid, nullptr);
    QWidget* view = grid->viewport();
    auto at = [&](int row) {
        return grid->visualRect(access.motionModel()->index(row, 5)).center();
    };
    // The strip right of the last column holds no cell.
    const QPoint beside(grid->horizontalHeader()->length() + 2, at(4).y());
    ASSERT_LT(beside.x(), view->width());
    auto drag = [&](QPoint from, QPoint to) {
        QTest::mousePress(view, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), view->mapToGlobal(QPointF(to)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        int row; // the one selected row afterwards
    };
    const Step steps[] = {
        {"Ctrl+click on the selected row",
         [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, at(4)); }, 4},
        {"Ctrl+Space", [&] { QTest::keyClick(grid, Qt::Key_Space, Qt::ControlModifier); }, 4},
        {"click beside the cells", [&] { QTest::mouseClick(view, Qt::LeftButton, {}, beside); }, 4},
        {"Ctrl+click beside the cells",
         [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, beside); }, 4},
        {"drag off the cells", [&] { drag(at(4), beside); }, 4},
        {"drag to another row", [&] { drag(at(4), at(6)); }, 6},
        {"Shift+click", [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, at(2)); },
         2},
        {"Ctrl+click another row",
         [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, at(5)); }, 5},
        {"Down", [&] { QTest::keyClick(grid, Qt::Key_Down); }, 6},
        {"Ctrl+Down", [&] { QTest::keyClick(grid, Qt::Key_Down, Qt::ControlModifier); }, 7},
        {"Shift+Up", [&] { QTest::keyClick(grid, Qt::Key_Up, Qt::ShiftModifier); }, 6},
        {"Ctrl+A", [&] { QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier); }, 6},
    };
    grid->setFocus();
    access.SelectRow(4);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QModelIndexList rows = grid->selectionModel()->selectedRows();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].row(), step.row);
        EXPECT_EQ(access.SelectedRow(), step.row) << "the row operations act on the one shown";
    }

    // Apply writes into the row shown selected.
    access.SelectRow(4);
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, at(4));
    Click("btnApply");
    EXPECT_EQ(access.Cell(4, 4), "130");
    EXPECT_EQ(grid->selectionModel()->selectedRows().value(0).row(), 4);
}

TEST_F(MotionList, ClearMarksTheTableModifiedEvenOnAClearedRow) {
    access.SelectRow(5);
    Click("btnRowClear");
    EXPECT_EQ(Row(5), kZeros);
    access.SetDataChanged(false);
    Click("btnRowClear");
    EXPECT_TRUE(access.DataChanged());
}

TEST_F(MotionList, NewAsksOnlyWhenModifiedAndNoKeepsEverything) {
    access.SelectRow(7);
    Click("btnFileNew");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(Row(7), kZeros);
    EXPECT_EQ(access.SelectedRow(), 0);
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(Header(), "");

    SetUp();
    access.SelectRow(7);
    access.SetDataChanged(true);
    dialogs.yesNoAnswers = {false};
    Click("btnFileNew");
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), 1);
    EXPECT_EQ(Row(7), Filled(7));
    EXPECT_EQ(access.SelectedRow(), 7);
    EXPECT_EQ(Header(), "***");

    dialogs.yesNoAnswers = {true};
    Click("btnFileNew");
    EXPECT_EQ(Row(7), kZeros);
    EXPECT_FALSE(access.DataChanged());
}

TEST_F(MotionList, ApplyStoresTheEditTextsUnchangedAndAutoIncrements) {
    auto* autoIncr = form.findChild<TSwitch*>("SwiAutoIncr");
    autoIncr->SetIsChecked(true);
    // RSR and RED stand at 0, which both texts convert to, so the boxes keep them.
    access.dim_edit()[2]->SetText(" 12 ");
    access.dim_edit()[12]->SetText("abc");
    access.SelectRow(98);
    Click("btnApply");
    EXPECT_EQ(access.Cell(98, 3), " 12 ");
    EXPECT_EQ(access.Cell(98, 13), "abc");
    EXPECT_EQ(access.Cell(98, 4), "130");
    EXPECT_EQ(access.SelectedRow(), 99);
    EXPECT_TRUE(access.DataChanged());
    Click("btnApply");
    EXPECT_EQ(access.SelectedRow(), 99) << "the last row stays selected";
    EXPECT_EQ(access.Cell(99, 3), " 12 ");

    autoIncr->SetIsChecked(false);
    access.SelectRow(3);
    Click("btnApply");
    EXPECT_EQ(access.SelectedRow(), 3);
}

TEST_F(MotionList, EditBringsTheRowIntoTheEditorWithoutChangingTheTable) {
    access.SetCell(4, 1, "45");
    access.SetCell(4, 13, "300");
    access.SelectRow(4);
    Click("btnRowEdit");
    EXPECT_EQ(access.dim_edit()[0]->Text(), "45");
    EXPECT_EQ(access.dim_track_bar()[0]->Value(), 45.0f);
    // A value beyond the range is clamped by the slider and the box follows.
    EXPECT_EQ(access.dim_track_bar()[12]->Value(), 255.0f);
    EXPECT_EQ(access.dim_edit()[12]->Text(), "255");
    EXPECT_FALSE(access.DataChanged());
}

TEST_F(MotionList, AutoIncrementLabelFollowsTheSwitch) {
    auto* autoIncr = form.findChild<TSwitch*>("SwiAutoIncr");
    auto* label = form.findChild<QLabel*>("lblAutoIncr");
    EXPECT_EQ(label->text(), "OFF");
    autoIncr->SetIsChecked(true);
    EXPECT_EQ(label->text(), "ON");
}
