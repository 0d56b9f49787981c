#include "DialogDouble.h"

#include <QFileDialog>
#include <QFileInfo>
#include <gtest/gtest.h>

bool DialogDouble::AskYesNo(QWidget*, const QString& text) {
    shown.push_back({ShownDialog::YesNo, text});
    if (whileAsking)
        whileAsking();
    if (yesNoAnswers.empty()) {
        ++unexpected;
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
    }
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<QString> DialogDouble::RunFileDialog(QFileDialog* dialog) {
    shown.push_back({ShownDialog::File, dialog->windowTitle()});
    if (fileAnswers.empty()) {
        ++unexpected;
        ADD_FAILURE() << "unexpected file dialog: " << dialog->windowTitle().toStdString();
        return std::nullopt;
    }
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (answer) {
        // Remember the choice as the real dialog would, for the next use.
        dialog->setDirectory(QFileInfo(*answer).absolutePath());
        dialog->selectFile(QFileInfo(*answer).fileName());
    }
    return answer;
}

QStringList DialogDouble::Texts(ShownDialog::Kind kind) const {
    QStringList texts;
    for (const ShownDialog& d : shown)
        if (d.kind == kind)
            texts << d.text;
    return texts;
}
