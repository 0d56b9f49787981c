#pragma once
// Stands in for the real dialogs in tests: records every dialog shown and
// answers from a script, so no test ever blocks on a modal dialog.
#include "DialogService.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

struct ShownDialog {
    enum Kind { Error, YesNo, Exception, File } kind;
    QString text; // message text, or the file dialog's title
};

class DialogDouble final : public DialogService {
public:
    DialogDouble() { SetDialogService(this); }
    ~DialogDouble() override { SetDialogService(nullptr); }
    DialogDouble(const DialogDouble&) = delete;
    DialogDouble& operator=(const DialogDouble&) = delete;

    void ShowError(QWidget*, const QString& text) override {
        shown.push_back({ShownDialog::Error, text});
    }
    bool AskYesNo(QWidget*, const QString& text) override;
    void ShowException(QWidget*, const QString& text) override {
        shown.push_back({ShownDialog::Exception, text});
    }
    std::optional<QString> RunFileDialog(QFileDialog* dialog) override;

    // Scripted answers, used in order; a question without a scripted answer
    // counts as a failure of the test and is answered No / Cancel.
    std::deque<bool> yesNoAnswers;
    // Runs while a question is open, before its answer: a test spins the
    // event loop here (as a modal dialog would) to see what goes on meanwhile.
    std::function<void()> whileAsking;
    std::deque<std::optional<QString>> fileAnswers;

    std::deque<ShownDialog> shown;
    int unexpected = 0;

    QStringList Texts(ShownDialog::Kind kind) const;
};
