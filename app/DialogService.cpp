#include "DialogService.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class QtDialogService final : public DialogService {
public:
    void ShowError(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("KOBITO Motion"), text,
                        QMessageBox::Ok, parent);
        box.exec();
    }
    bool AskYesNo(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("KOBITO Motion"), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    void ShowException(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KOBITO Motion"), text, QMessageBox::Ok,
                        parent);
        box.exec();
    }
    std::optional<QString> RunFileDialog(QFileDialog* dialog) override {
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return std::nullopt;
        return dialog->selectedFiles().constFirst();
    }
};

QtDialogService g_real;
DialogService* g_current = nullptr;

} // namespace

DialogService& Dialogs() {
    return g_current ? *g_current : g_real;
}

void SetDialogService(DialogService* service) {
    g_current = service;
}
