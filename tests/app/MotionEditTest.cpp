// Undo and redo of the motion table, the grid's context menu, copy and paste
// of rows, mirrored poses and where their keys act.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Switch.h"

#include "Channels.h"
#include "MotionTable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

using Rows = QList<QStringList>;

const QString kUndo = QStringLiteral("元に戻す( Undo )");
const QString kRedo = QStringLiteral("やり直し( Redo )");
const QString kCopy = QStringLiteral("コピー( Copy )");
const QString kPaste = QStringLiteral("貼り付け( Paste )");
const QString kMirror = QStringLiteral("左右反転( Mirror )");

// A row of 16 cells: the given ones, then "0".
QStringList Padded(QStringList values) {
    while (values.size() < 16)
        values.append(QStringLiteral("0"));
    return values;
}

class MotionEdit : public ::testing::Test {
protected:
    void SetUp() override {
        form.show();
        QApplication::setActiveWindow(&form);
        grid = form.findChild<QTableView*>("grdMotion");
        ASSERT_NE(grid, nullptr);
        Reset();
    }

    // A table without history in which every cell differs, not modified.
    void Reset() {
        access.SetDataChanged(false);
        Click("btnFileNew");
        for (int r = 0; r < 100; ++r)
            for (int c = 1; c <= 16; ++c)
                access.SetCell(r, c, QString::number(r * 100 + c));
        access.SetDataChanged(false);
        QGuiApplication::clipboard()->clear();
        grid->setFocus();
    }

    void Click(const char* name) {
        auto* button = form.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // A key as the user presses it: to the widget with the focus.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : &form, key, modifiers);
    }
    Rows Table() const { return access.motionModel()->toRows(); }
    QString Header() const {
        return access.motionModel()->headerData(0, Qt::Horizontal).toString();
    }

    // Right-clicks a row as the platform delivers it, through the window.
    QMenu* RightClick(int row) {
        const QModelIndex index = access.motionModel()->index(row, 5);
        grid->scrollTo(index);
        const QPoint at = grid->visualRect(index).center();
        QTest::mouseClick(form.windowHandle(), Qt::RightButton, {},
                          grid->viewport()->mapTo(&form, at));
        auto* menu = form.findChild<QMenu*>("mnuMotion");
        if (menu == nullptr || !QTest::qWaitFor([menu] { return menu->isVisible(); }))
            return nullptr;
        return menu;
    }
    static QAction* Entry(QMenu* menu, const QString& captionStart) {
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->text().startsWith(captionStart))
                return action;
        return nullptr;
    }
    static void Choose(QMenu* menu, const QString& captionStart) {
        QAction* action = Entry(menu, captionStart);
        ASSERT_NE(action, nullptr) << captionStart.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        EXPECT_TRUE(QTest::qWaitFor([menu] { return !menu->isVisible(); }));
    }

    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
    QTableView* grid = nullptr;
};

} // namespace

TEST_F(MotionEdit, EveryChangeIsOneStepThatUndoAndRedoRestoreWithSelectionAndFlag) {
    auto* autoIncr = form.findChild<TSwitch*>("SwiAutoIncr");
    struct Case {
        const char* step; // the step's name, as the menu shows it
        int row;
        std::function<void()> act;
    };
    const Case cases[] = {
        {"更新( Apply )", 5,
         [&] {
             autoIncr->SetIsChecked(true); // Apply moves the selection on
             Click("btnApply");
         }},
        {"挿入 Insert", 5, [&] { Click("btnRowInsert"); }},
        {"削除 Delete", 5, [&] { Click("btnRowDelete"); }},
        {"クリア Clear", 5, [&] { Click("btnRowClear"); }},
        {"貼り付け( Paste )", 97,
         [&] {
             QGuiApplication::clipboard()->setText("1,2\n3\t4\n5,6\n7,8\n");
             Key(Qt::Key_V);
         }},
        {"左右反転( Mirror )", 5, [&] { Key(Qt::Key_M); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        Reset();
        autoIncr->SetIsChecked(false);
        access.SelectRow(c.row);
        const Rows before = Table();
        c.act();
        const Rows after = Table();
        const int selectedAfter = access.SelectedRow();
        ASSERT_NE(after, before);
        EXPECT_TRUE(access.DataChanged());

        QMenu* menu = RightClick(selectedAfter);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(Entry(menu, kUndo)->text(), kUndo + " " + QString::fromUtf8(c.step));
        EXPECT_TRUE(Entry(menu, kUndo)->isEnabled());
        EXPECT_EQ(Entry(menu, kRedo)->text(), kRedo);
        EXPECT_FALSE(Entry(menu, kRedo)->isEnabled());
        menu->hide();

        Key(Qt::Key_Z);
        EXPECT_EQ(Table(), before);
        EXPECT_EQ(access.SelectedRow(), c.row);
        EXPECT_FALSE(access.DataChanged()) << "back at the table as it was last made new";
        EXPECT_EQ(Header(), "");

        Key(Qt::Key_Y);
        EXPECT_EQ(Table(), after);
        EXPECT_EQ(access.SelectedRow(), selectedAfter);
        EXPECT_TRUE(access.DataChanged());
        EXPECT_EQ(Header(), "***");

        Key(Qt::Key_Z);
        Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(Table(), after);
        EXPECT_EQ(access.SelectedRow(), selectedAfter);
    }
}

TEST_F(MotionEdit, UndoToTheSavedTableClearsTheFlagAndNewOrOpenStartAFreshHistory) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("saved.kmf");
    access.SelectRow(3);
    Click("btnRowClear");
    dialogs.fileAnswers = {path};
    Click("btnFileSave");
    ASSERT_FALSE(access.DataChanged());
    const Rows saved = Table();
    Click("btnRowInsert");
    EXPECT_TRUE(access.DataChanged());

    Key(Qt::Key_Z);
    EXPECT_EQ(Table(), saved);
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(Header(), "");
    Key(Qt::Key_Z);
    EXPECT_TRUE(access.DataChanged()) << "before the save";
    Key(Qt::Key_Y);
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(Table(), saved);
    Key(Qt::Key_Y);
    EXPECT_TRUE(access.DataChanged());

    // New, once its question is answered, leaves nothing to undo.
    dialogs.yesNoAnswers = {true};
    Click("btnFileNew");
    Key(Qt::Key_Z);
    EXPECT_EQ(Table(), Rows(100, Padded({})));
    QMenu* menu = RightClick(0);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Entry(menu, kUndo)->text(), kUndo);
    EXPECT_FALSE(Entry(menu, kUndo)->isEnabled());
    menu->hide();

    // So does Open.
    access.SelectRow(2);
    Click("btnRowDelete");
    dialogs.yesNoAnswers = {true};
    dialogs.fileAnswers = {path};
    Click("btnFileOpen");
    Key(Qt::Key_Z);
    EXPECT_EQ(Table(), saved);
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(dialogs.unexpected, 0);
}

TEST_F(MotionEdit, ContextMenuOffersItsEntriesWhereTheyDoSomething) {
    QMenu* menu = RightClick(7);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(access.SelectedRow(), 7) << "the menu acts on the row clicked";
    QStringList captions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            captions.append(action->text());
    EXPECT_EQ(captions, QStringList({kUndo, kRedo, kCopy, kPaste, kMirror}));
    EXPECT_FALSE(Entry(menu, kUndo)->isEnabled()) << "no step yet";
    EXPECT_FALSE(Entry(menu, kRedo)->isEnabled());
    EXPECT_FALSE(Entry(menu, kPaste)->isEnabled()) << "no text to paste";
    EXPECT_TRUE(Entry(menu, kCopy)->isEnabled());
    EXPECT_TRUE(Entry(menu, kMirror)->isEnabled());
    Choose(menu, kCopy);
    const QStringList row7 = access.motionModel()->rowValues(7);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row7.join(','));
    EXPECT_FALSE(access.DataChanged()) << "copying changes nothing";

    const QStringList row9 = access.motionModel()->rowValues(9);
    menu = RightClick(9);
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(Entry(menu, kPaste)->isEnabled());
    Choose(menu, kPaste);
    EXPECT_EQ(access.motionModel()->rowValues(9), row7);

    menu = RightClick(9);
    ASSERT_NE(menu, nullptr);
    Choose(menu, kUndo + " " + kPaste);
    EXPECT_EQ(access.motionModel()->rowValues(9), row9);
    menu = RightClick(9);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Entry(menu, kRedo)->text(), kRedo + " " + kPaste);
    Choose(menu, kRedo);
    EXPECT_EQ(access.motionModel()->rowValues(9), row7);

    access.SetCell(4, 3, "30"); // RSR
    menu = RightClick(4);
    ASSERT_NE(menu, nullptr);
    Choose(menu, kMirror);
    EXPECT_EQ(access.Cell(4, 6), "150") << "LSR takes 180 - RSR";
}

// A short line writes its values and leaves the rest of the row as it was, as a spreadsheet
// pastes a narrower range: three columns pasted keep the row's time, and so the list playable.
TEST_F(MotionEdit, PasteWritesFromTheSelectedRowDownAsOneStep) {
    struct Case {
        const char* what;
        QString text;
        int row;
        Rows written; // the first cells of rows row, row+1, ...
        int selected;
    };
    const Case cases[] = {
        {"motion-file lines",
         "1,2,3\r\n\"4,5\", 6 ,\"a\"\"b\"\r\n",
         10,
         {{"1", "2", "3"}, {"4,5", "6", "a\"b"}},
         11},
        {"tab-separated lines", "7\t8\t9\n10\t\t12\n", 20, {{"7", "8", "9"}, {"10", "", "12"}}, 21},
        {"a blank line", "1\n\n3", 30, {{"1"}, {}, {"3"}}, 32},
        {"more lines than rows remain", "1\n2\n3\n4\n", 98, {{"1"}, {"2"}}, 99},
        {"a full row",
         "90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10",
         0,
         {QString("90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10").split(',')},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        access.SelectRow(c.row);
        const Rows before = Table();
        QGuiApplication::clipboard()->setText(c.text);
        Key(Qt::Key_V);
        Rows expected = before;
        for (int i = 0; i < int(c.written.size()); ++i)
            for (int k = 0; k < int(c.written[i].size()); ++k)
                expected[c.row + i][k] = c.written[i][k];
        EXPECT_EQ(Table(), expected);
        EXPECT_EQ(access.SelectedRow(), c.selected);
        EXPECT_TRUE(access.DataChanged());
        Key(Qt::Key_Z);
        EXPECT_EQ(Table(), before) << "one step";
        EXPECT_EQ(access.SelectedRow(), c.row);
    }

    // Nothing to paste: no change, no step.
    Reset();
    const Rows before = Table();
    Key(Qt::Key_V);
    EXPECT_EQ(Table(), before);
    EXPECT_FALSE(access.DataChanged());
}

// Ten megabytes on one line make one cell of as much as an edit box holds, not of ten megabytes;
// the other cells keep theirs.
TEST_F(MotionEdit, PasteKeepsACellAsShortAsAnEditBoxHolds) {
    const int editBoxLimit = access.dim_edit()[0]->maxLength();
    access.SelectRow(40);
    Rows expected = Table();
    QGuiApplication::clipboard()->setText(QString(10'000'000, u'5'));
    Key(Qt::Key_V);
    expected[40][0] = QString(editBoxLimit, u'5');
    EXPECT_EQ(Table(), expected);
    EXPECT_EQ(access.SelectedRow(), 40);
}

// A NUL inside a pasted or typed value ends that value there, as a file's text ends at one: it
// never reaches a cell, so Save writes no NUL and Open gives back every row.
TEST_F(MotionEdit, ANulNeverReachesACellAndEveryRowSurvivesSaveAndOpen) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QChar nul(u'\0');
    access.SelectRow(0);
    QGuiApplication::clipboard()->setText("1,2" + QString(nul) + "3,4\r\n5,6,7\r\n8" +
                                          QString(nul) + "\t9\r\n10,11");
    Key(Qt::Key_V);
    // Typed into an edit box (as an input method commits it) and applied to a row. The text
    // reads as 0, the slider's value already, so the box keeps it when it loses the focus.
    access.SelectRow(10);
    TEditBox* edit = access.dim_edit()[kobito::TIM];
    edit->SetText("0");
    edit->setFocus();
    edit->selectAll();
    QInputMethodEvent typed;
    typed.setCommitString("1" + QString(nul) + "2");
    QApplication::sendEvent(edit, &typed);
    Click("btnApply");
    Rows expected = Table();
    EXPECT_EQ(access.Cell(0, 2), "2");
    EXPECT_EQ(access.Cell(2, 1), "8");
    EXPECT_EQ(access.Cell(10, 16), "1");

    const QString path = QDir(dir.path()).filePath("with-nul.kmf"); // NUL.* is a device on Windows
    dialogs.fileAnswers = {path};
    Click("btnFileSave");
    Click("btnFileNew");
    dialogs.fileAnswers = {path};
    Click("btnFileOpen");
    EXPECT_TRUE(dialogs.Texts(ShownDialog::Error).isEmpty());
    EXPECT_EQ(Table(), expected);
}

TEST_F(MotionEdit, CopyIsTheRowAsTheMotionFileWritesIt) {
    access.SetCell(3, 1, " 12 ");
    access.SetCell(3, 2, "1,5");
    access.SetCell(3, 3, "a\"b");
    access.SelectRow(3);
    Key(Qt::Key_C);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "12,\"1,5\",\"a\"\"b\",304,305,306,307,308,309,310,311,312,313,314,315,316");
    access.SelectRow(50);
    Key(Qt::Key_V);
    EXPECT_EQ(access.motionModel()->rowValues(50),
              QStringList({"12", "1,5", "a\"b", "304", "305", "306", "307", "308", "309", "310",
                           "311", "312", "313", "314", "315", "316"}));
}

TEST_F(MotionEdit, MirrorOnARowConvertsItsServoCellsAndKeepsEyesAndTime) {
    struct Case {
        const char* what;
        QStringList cells;
        QStringList mirrored;
    };
    const Case cases[] = {
        {"the stop pose", QString("90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10").split(','),
         QString("90,90,0,130,90,180,50,90,90,90,90,90,0,0,255,10").split(',')},
        {"an asymmetric pose with text",
         {"100", "80", "abc", "20", " 30", "170", "60", "", "$10", "95", "75", "105", "x", "2", "3",
          " 10 "},
         {"80", "100", "10", "120", "180", "180", "160", "150", "105", "75", "164", "85", "x", "2",
          "3", " 10 "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        access.motionModel()->setRowValues(6, c.cells);
        access.SetDataChanged(false);
        access.SelectRow(6);
        const Rows before = Table();
        Key(Qt::Key_M);
        EXPECT_EQ(access.motionModel()->rowValues(6), c.mirrored);
        EXPECT_EQ(access.SelectedRow(), 6);
        EXPECT_TRUE(access.DataChanged());
        Key(Qt::Key_Z);
        EXPECT_EQ(Table(), before);
    }
}

// A mirrored row keeps each servo inside the range grid's MIN..MAX, as a mirrored pose in the
// editor does.
TEST_F(MotionEdit, MirrorOnARowKeepsToTheRanges) {
    auto* ranges = form.findChild<QTableWidget*>("grdRange");
    // RSR 20..150, LSR 40..90: the mirror images 170 of 10 and 10 of 170 lie outside.
    ranges->item(kobito::RSR, 1)->setText("20");
    ranges->item(kobito::RSR, 2)->setText("150");
    ranges->item(kobito::LSR, 1)->setText("40");
    ranges->item(kobito::LSR, 2)->setText("90.5");
    ranges->setCurrentCell(0, 1);
    ranges->setCurrentCell(1, 1);
    access.motionModel()->setRowValues(
        6, QString("100,80,10,20,30,170,60,70,85,95,75,105,1,2,300,40").split(','));
    access.SelectRow(6);
    grid->setFocus();
    Key(Qt::Key_M);
    EXPECT_EQ(access.motionModel()->rowValues(6),
              QString("80,100,20,120,110,90,160,150,105,75,95,85,1,2,300,40").split(','));
}

TEST_F(MotionEdit, MirrorInTheEditorKeepsToTheRangesAndLeavesTheTable) {
    auto* ranges = form.findChild<QTableWidget*>("grdRange");
    auto slider = [&](int k) { return access.dim_track_bar()[size_t(k)]; };
    access.dim_edit()[0]->setFocus();
    const Rows table = Table();

    // Start-up shows the stop pose, its own mirror image.
    Key(Qt::Key_M);
    access.btnTestClick();
    EXPECT_EQ(access.out_val(), (std::array<int32_t, 16>{90, 90, 0, 130, 90, 180, 50, 90, 90, 90,
                                                         90, 90, 0, 0, 255, 10}));

    // LSR narrowed to 20..150: RSR's 10 mirrored would be 170.
    ranges->item(kobito::LSR, 1)->setText("20");
    ranges->item(kobito::LSR, 2)->setText("150");
    ranges->setCurrentCell(0, 1);
    ranges->setCurrentCell(1, 1);
    const int pose[16] = {100, 80, 10, 20, 30, 150, 60, 70, 85, 95, 75, 105, 1, 2, 3, 40};
    for (int k = 0; k < 16; ++k)
        slider(k)->SetValue(float(pose[k]));
    access.dim_edit()[0]->setFocus();
    Key(Qt::Key_M);
    access.btnTestClick();
    EXPECT_EQ(access.out_val(), (std::array<int32_t, 16>{80, 100, 30, 120, 110, 150, 160, 150, 105,
                                                         75, 95, 85, 1, 2, 3, 40}));
    EXPECT_EQ(access.dim_edit()[kobito::LSR]->Text(), "150");
    EXPECT_EQ(Table(), table);
    EXPECT_FALSE(access.DataChanged());
}

TEST_F(MotionEdit, KeysInsideATextFieldActOnItsTextAndLeaveTheTable) {
    access.SelectRow(5);
    Click("btnRowClear"); // a step that a leaked Ctrl+Z would undo
    const Rows table = Table();
    QGuiApplication::clipboard()->setText("1,2,3");

    TEditBox* edit = access.dim_edit()[kobito::HDY];
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, "77");
    ASSERT_EQ(edit->text(), "77");
    struct Step {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<void()> check;
    };
    const Step steps[] = {
        {"Ctrl+Z", Qt::Key_Z, Qt::ControlModifier, [&] { EXPECT_EQ(edit->text(), "90"); }},
        {"Ctrl+Y", Qt::Key_Y, Qt::ControlModifier, [] {}},
        {"Ctrl+Shift+Z", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, [] {}},
        {"Ctrl+V", Qt::Key_V, Qt::ControlModifier,
         [&] { EXPECT_TRUE(edit->text().contains("1,2,3")); }},
        {"Ctrl+C", Qt::Key_C, Qt::ControlModifier,
         [&] { EXPECT_EQ(QGuiApplication::clipboard()->text(), edit->selectedText()); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.key == Qt::Key_C)
            edit->selectAll();
        QTest::keyClick(edit, step.key, step.modifiers);
        step.check();
        EXPECT_EQ(Table(), table);
        EXPECT_EQ(access.SelectedRow(), 5);
        EXPECT_TRUE(access.DataChanged());
    }

    // The read-only log copies its own text.
    TabTo(form, "tabLog");
    auto* log = form.findChild<QPlainTextEdit*>("memLog");
    log->setPlainText("KOBITO/ #Q");
    log->setFocus();
    ASSERT_TRUE(log->hasFocus());
    log->selectAll();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "KOBITO/ #Q");
    QTest::keyClick(log, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(log, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Table(), table);

    // So do the range grid's cells.
    TabTo(form, "tabGrid");
    auto* ranges = form.findChild<QTableWidget*>("grdRange");
    ranges->setFocus();
    ASSERT_TRUE(ranges->hasFocus());
    for (const Qt::Key key : {Qt::Key_V, Qt::Key_Z}) {
        QTest::keyClick(ranges, key, Qt::ControlModifier);
        EXPECT_EQ(Table(), table);
    }

    // Elsewhere the keys act on the table, whatever has the focus.
    auto* apply = form.findChild<QPushButton*>("btnApply");
    apply->setFocus();
    ASSERT_TRUE(apply->hasFocus());
    Key(Qt::Key_Z);
    EXPECT_NE(Table(), table);
    EXPECT_FALSE(access.DataChanged());
}
