// Opening and saving motion files.
#include "uMain.h"

#include "DialogService.h"

#include "MotionFile.h"
#include "MotionTable.h"
#include "TextRules.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
const QStringList kMotionFilters = {QStringLiteral("KOBITO motion file(*.kmf)"),
                                    QStringLiteral("All files(*.*)")};
}

void TForm1::SetUpFileDialogs() {
    // The program's own dialogs, the same on every platform, so that each
    // keeps its folder and name between uses.
    for (QFileDialog* dialog : {OpenDialog, SaveDialog}) {
        dialog->setOption(QFileDialog::DontUseNativeDialog, false);
        dialog->setNameFilters(kMotionFilters);
        dialog->selectNameFilter(kMotionFilters.front());
        dialog->setDefaultSuffix(QStringLiteral("kmf"));
        dialog->setSizeGripEnabled(true);
    }
    OpenDialog->setWindowTitle(QStringLiteral("Open KOBITO motion file"));
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    SaveDialog->setWindowTitle(QStringLiteral("Save KOBITO motion file"));
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
}

void TForm1::LoadTextFile(const QString& path, QStringList& lines) {
    const kobito::TextFileResult file = kobito::LoadTextLines(path);
    if (!file.ok) {
        ShowError(kobito::FileReadErrorText(path));
        return;
    }
    lines = file.lines;
}

void TForm1::LoadMotionList(const QStringList& lines) {
    ClearMotionTable();
    m_motionModel->fromLines(lines);
}

void TForm1::SaveMotionFile(const QString& path) {
    kobito::SaveMotionFile(path, m_motionModel->toRows());
}

void TForm1::btnFileOpenClick() {
    if (IsDataChanged() && !ConfirmDiscard())
        return;
    const std::optional<QString> chosen = Dialogs().RunFileDialog(OpenDialog);
    if (!chosen)
        return;
    const QString path = QDir::toNativeSeparators(QFileInfo(*chosen).absoluteFilePath());
    try {
        QStringList lines;
        LoadTextFile(path, lines);
        LoadMotionList(lines);
        setWindowTitle(path);
    } catch (...) {
        SetDataChanged(false);
        throw;
    }
    SetDataChanged(false);
}

void TForm1::btnFileSaveClick() {
    const std::optional<QString> chosen = Dialogs().RunFileDialog(SaveDialog);
    if (!chosen)
        return;
    // A failure is shown by the exception display; the flag then stays set.
    SaveMotionFile(QFileInfo(*chosen).absoluteFilePath());
    SetDataChanged(false);
}
