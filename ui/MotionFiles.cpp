// Opening and saving motion files.
#include "uMain.h"

#include "DialogService.h"

#include "MotionFile.h"
#include "MotionTable.h"
#include "TextRules.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUndoStack>

namespace {
const QStringList kMotionFilters = {QStringLiteral("KOBITO motion file(*.kmf)"),
                                    QStringLiteral("All files(*.*)")};
}

// The two dialogs are made on first use, which keeps start-up quick, and
// then kept, so that each opens in the folder and with the name of its last use.
QFileDialog* TForm1::MotionFileDialog(bool save) {
    QFileDialog*& dialog = save ? SaveDialog : OpenDialog;
    if (dialog)
        return dialog;
    dialog = new QFileDialog(this);
    dialog->setObjectName(save ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
    dialog->setNameFilters(kMotionFilters);
    dialog->selectNameFilter(kMotionFilters.front());
    dialog->setDefaultSuffix(QStringLiteral("kmf"));
    dialog->setSizeGripEnabled(true);
    if (save) {
        dialog->setWindowTitle(QStringLiteral("Save KOBITO motion file"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    } else {
        dialog->setWindowTitle(QStringLiteral("Open KOBITO motion file"));
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

void TForm1::LoadTextFile(const QString& path, QStringList& lines) {
    const kobito::TextFileResult file =
        kobito::LoadTextLines(path, kobito::NulRule::EndsText, kobito::MotionFileMaxBytes);
    if (!file.ok) {
        ShowError(kobito::FileReadErrorText(path));
        return;
    }
    lines = file.lines;
}

void TForm1::LoadMotionList(const QStringList& lines) {
    ClearMotionTable();
    m_motionModel->fromLines(lines);
    // Open and a remote slot replace the whole table: the old steps no longer apply.
    StartNewHistory();
}

void TForm1::SaveMotionFile(const QString& path) {
    kobito::SaveMotionFile(path, m_motionModel->toRows());
}

void TForm1::btnFileOpenClick() {
    if (IsDataChanged() && !ConfirmDiscard())
        return;
    const std::optional<QString> chosen = Dialogs().RunFileDialog(MotionFileDialog(false));
    if (!chosen)
        return;
    OpenMotionFile(*chosen);
}

void TForm1::OpenMotionFile(const QString& file) {
    // A name from the command line may be relative or hold "..".
    const QString path =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(file).absoluteFilePath()));
    try {
        QStringList lines;
        LoadTextFile(path, lines);
        LoadMotionList(lines);
        // "[*]" in a title is the modified marker; a path shows as it is.
        setWindowTitle(QString(path).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
    } catch (...) {
        SetDataChanged(false);
        throw;
    }
    SetDataChanged(false);
}

void TForm1::btnFileSaveClick() {
    const std::optional<QString> chosen = Dialogs().RunFileDialog(MotionFileDialog(true));
    if (!chosen)
        return;
    // A failure is shown by the exception display; the flag then stays set.
    SaveMotionFile(QFileInfo(*chosen).absoluteFilePath());
    SetDataChanged(false);
    // Undo and redo back to this table clear the flag again.
    m_history->setClean();
}
