// Editing power over the motion table: the history of its changes (undo and
// redo), copy and paste of rows, mirrored poses, the grid's context menu and
// the shortcuts of all of these.
#include "uMain.h"

#include "FloatTrackBar.h"
#include "Handler.h"

#include "Channels.h"
#include "MotionFile.h"
#include "MotionTable.h"
#include "TextRules.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTableView>
#include <QTableWidget>
#include <QTextEdit>
#include <QUndoStack>

#include <algorithm>
#include <array>
#include <functional>
#include <utility>

namespace {

const QString kUndo = QStringLiteral("元に戻す( Undo )");
const QString kRedo = QStringLiteral("やり直し( Redo )");
const QString kCopy = QStringLiteral("コピー( Copy )");
const QString kPaste = QStringLiteral("貼り付け( Paste )");
const QString kMirror = QStringLiteral("左右反転( Mirror )");

const QKeySequence kUndoKey(Qt::CTRL | Qt::Key_Z);
const QList<QKeySequence> kRedoKeys = {QKeySequence(Qt::CTRL | Qt::Key_Y),
                                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)};
const QKeySequence kCopyKey(Qt::CTRL | Qt::Key_C);
const QKeySequence kPasteKey(Qt::CTRL | Qt::Key_V);
const QKeySequence kMirrorKey(Qt::CTRL | Qt::Key_M);

// What a step changes: some rows of the table, and which row is selected.
struct TableSide {
    QList<std::pair<int, QStringList>> rows;
    int selected = -1;
};

// One change of the motion table, kept as the rows it changed with the
// selected row, before and after. It is made once the change is done, so
// its first redo, which the stack runs on push, has nothing to do.
class TableStep final : public QUndoCommand {
public:
    using Restore = std::function<void(const TableSide&)>;

    TableStep(const QString& name, TableSide before, TableSide after, Restore restore)
        : QUndoCommand(name), m_before(std::move(before)), m_after(std::move(after)),
          m_restore(std::move(restore)) {}

    void undo() override { m_restore(m_before); }
    void redo() override {
        if (m_pushed)
            m_restore(m_after);
        m_pushed = true;
    }

private:
    TableSide m_before;
    TableSide m_after;
    Restore m_restore;
    bool m_pushed = false;
};

QString WithStep(const QString& caption, const QString& step) {
    return step.isEmpty() ? caption : caption + QLatin1Char(' ') + step;
}

QString ClipboardText() {
    return QGuiApplication::clipboard()->text();
}

// Widgets whose text takes undo, redo, copy and paste keys for itself.
bool IsTextField(const QWidget* w) {
    if (w == nullptr)
        return false;
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->isEditable();
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

bool IsTextKey(const QKeyEvent* key) {
    const QKeySequence pressed(key->keyCombination());
    return pressed == kUndoKey || kRedoKeys.contains(pressed) || pressed == kCopyKey ||
           pressed == kPasteKey;
}

} // namespace

void TForm1::ConnectMotionEditing() {
    m_history = new QUndoStack(this);
    // Far more than anyone undoes; a step keeps at most two copies of the table.
    m_history->setUndoLimit(200);

    auto shortcut = [this](const QList<QKeySequence>& keys, void (TForm1::*handler)()) {
        auto* s = new QShortcut(this);
        s->setKeys(keys);
        s->setContext(Qt::WindowShortcut);
        OnEvent(s, &QShortcut::activated, this, [this, handler] { (this->*handler)(); });
    };
    shortcut({kUndoKey}, &TForm1::UndoStep);
    shortcut(kRedoKeys, &TForm1::RedoStep);
    shortcut({kCopyKey}, &TForm1::CopyRowToClipboard);
    shortcut({kPasteKey}, &TForm1::PasteClipboard);
    shortcut({kMirrorKey}, &TForm1::MirrorShortcut);

    mnuMotion = new QMenu(grdMotion);
    mnuMotion->setObjectName(QStringLiteral("mnuMotion"));
    auto entry = [this](const char* name, const QString& caption, const QList<QKeySequence>& keys,
                        std::function<void()> handler) {
        auto* action = new QAction(caption, mnuMotion);
        action->setObjectName(QString::fromLatin1(name));
        // Shown as a reminder; the window's shortcuts do the work.
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        mnuMotion->addAction(action);
        OnEvent(action, &QAction::triggered, this, std::move(handler));
    };
    entry("actUndo", kUndo, {kUndoKey}, [this] { UndoStep(); });
    entry("actRedo", kRedo, kRedoKeys, [this] { RedoStep(); });
    mnuMotion->addSeparator();
    entry("actCopy", kCopy, {kCopyKey}, [this] { CopyRowToClipboard(); });
    entry("actPaste", kPaste, {kPasteKey}, [this] { PasteClipboard(); });
    mnuMotion->addSeparator();
    entry("actMirror", kMirror, {kMirrorKey}, [this] { RecordStep(kMirror, &TForm1::MirrorRow); });

    grdMotion->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grdMotion, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        try {
            grdMotionContextMenu(pos);
        } catch (...) {
            ShowCurrentException();
        }
    });
}

bool TForm1::event(QEvent* event) {
    // A text field with the focus keeps its own undo, redo, copy and paste
    // even where it does not claim the key itself (Ctrl+Y in a line edit
    // outside Windows, Ctrl+C in the read-only log): the table is left alone.
    // So does the range grid, whose cells are typed into.
    const QWidget* focus = QApplication::focusWidget();
    if (event->type() == QEvent::ShortcutOverride && (IsTextField(focus) || focus == grdRange) &&
        IsTextKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void TForm1::RecordStep(const QString& name, void (TForm1::*change)()) {
    const QList<QStringList> rowsBefore = m_motionModel->toRows();
    TableSide before{{}, SelectedRow()};
    (this->*change)();
    const QList<QStringList> rowsAfter = m_motionModel->toRows();
    TableSide after{{}, SelectedRow()};
    for (int r = 0; r < int(rowsAfter.size()); ++r) {
        if (rowsBefore[r] == rowsAfter[r])
            continue;
        before.rows.append({r, rowsBefore[r]});
        after.rows.append({r, rowsAfter[r]});
    }
    // A step that changed no cell is still one: it set the modified flag,
    // and undoing it must clear the flag again.
    m_history->push(
        new TableStep(name, std::move(before), std::move(after), [this](const TableSide& side) {
            for (const auto& [row, values] : side.rows)
                m_motionModel->setRowValues(row, values);
            if (side.selected >= 0)
                SelectRow(side.selected);
        }));
}

void TForm1::StartNewHistory() {
    m_history->clear();
}

void TForm1::UndoStep() {
    if (!m_history->canUndo())
        return;
    m_history->undo();
    SetDataChanged(!m_history->isClean());
}

void TForm1::RedoStep() {
    if (!m_history->canRedo())
        return;
    m_history->redo();
    SetDataChanged(!m_history->isClean());
}

void TForm1::CopyRowToClipboard() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    QGuiApplication::clipboard()->setText(kobito::EncodeMotionRow(m_motionModel->rowValues(s)));
}

void TForm1::PasteClipboard() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100 || kobito::MotionRowsFromText(ClipboardText(), 1).isEmpty())
        return;
    RecordStep(kPaste, &TForm1::PasteRows);
}

void TForm1::PasteRows() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    // Only the rows from the selected one down are read; a short line leaves the cells after
    // its values as they are, as a spreadsheet pastes a narrower range.
    const QList<QStringList> rows = kobito::MotionRowsFromText(ClipboardText(), 100 - s);
    int last = s;
    for (int i = 0; i < int(rows.size()); ++i) {
        last = s + i;
        m_motionModel->setRowValues(last, rows[i]);
    }
    SelectRow(last);
    SetDataChanged(true);
}

void TForm1::MirrorRow() {
    const int s = SelectedRow();
    if (s < 0 || s >= 100)
        return;
    QStringList cells = m_motionModel->rowValues(s);
    std::array<int, kobito::ChannelCount> pose{};
    for (int k = 0; k < kobito::ChannelCount; ++k)
        pose[size_t(k)] = kobito::StrToIntDef(cells[k], 0);
    const std::array<int, kobito::ChannelCount> mirrored = kobito::MirrorPose(pose);
    // Each servo keeps to its range, as the editor's sliders keep a mirrored pose; eyes and
    // time keep their text as it is.
    for (int k = 0; k < kobito::ServoCount; ++k) {
        const TFloatTrackBar* slider = dim_track_bar[size_t(k)];
        const float value = std::clamp(float(mirrored[size_t(k)]), slider->Min(), slider->Max());
        cells[k] = QString::number(kobito::TruncateToInt32(double(value)));
    }
    m_motionModel->setRowValues(s, cells);
    SetDataChanged(true);
}

void TForm1::MirrorEditorPose() {
    // The pose as Test reads it; each slider then keeps to its range.
    std::array<int, kobito::ChannelCount> pose{};
    for (int k = 0; k < kobito::ChannelCount; ++k)
        pose[size_t(k)] = kobito::TruncateToInt32(double(dim_track_bar[size_t(k)]->Value()));
    const std::array<int, kobito::ChannelCount> mirrored = kobito::MirrorPose(pose);
    for (int k = 0; k < kobito::ChannelCount; ++k)
        dim_track_bar[size_t(k)]->SetValue(float(mirrored[size_t(k)]));
}

void TForm1::MirrorShortcut() {
    if (grdMotion->hasFocus())
        RecordStep(kMirror, &TForm1::MirrorRow);
    else
        MirrorEditorPose();
}

void TForm1::grdMotionContextMenu(const QPoint& pos) {
    auto* undo = mnuMotion->findChild<QAction*>(QStringLiteral("actUndo"));
    auto* redo = mnuMotion->findChild<QAction*>(QStringLiteral("actRedo"));
    auto* paste = mnuMotion->findChild<QAction*>(QStringLiteral("actPaste"));
    undo->setText(WithStep(kUndo, m_history->undoText()));
    undo->setEnabled(m_history->canUndo());
    redo->setText(WithStep(kRedo, m_history->redoText()));
    redo->setEnabled(m_history->canRedo());
    paste->setEnabled(!ClipboardText().isEmpty());
    // Not exec(): the window's event loop goes on (playback, the robot, Scratch).
    mnuMotion->popup(grdMotion->viewport()->mapToGlobal(pos));
}
