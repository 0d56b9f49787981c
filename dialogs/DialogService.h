#pragma once
#include <QMessageBox>
#include <QString>
#include <memory>
#include <optional>

class QFileDialog;
class QWidget;

// Every modal dialog of the program goes through here, so that tests can
// answer them instead of a person.
class DialogService {
public:
    virtual ~DialogService() = default;

    // Error dialog with one OK button.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
    // Confirmation with Yes and No; true only for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
    // Plain message box of the general exception display.
    virtual void ShowException(QWidget* parent, const QString& text) = 0;
    // Runs a file dialog the window owns; the chosen path, or nothing if cancelled.
    virtual std::optional<QString> RunFileDialog(QFileDialog* dialog) = 0;
};

// The message box the real service shows, before it is shown. Its text is plain text: messages
// carry paths and names from outside, which must not be read as markup.
std::unique_ptr<QMessageBox> NewMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent);

// The service in use: the real dialogs unless a test has installed its own.
DialogService& Dialogs();
// Installs a service (not owned); nullptr restores the real dialogs.
void SetDialogService(DialogService* service);

// Shows the message of the exception being handled (call inside a catch block).
void ShowCurrentException();
