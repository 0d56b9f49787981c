#include "DialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <exception>

namespace {

class QtDialogService final : public DialogService {
public:
    void ShowError(QWidget* parent, const QString& text) override {
        NewMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, parent)->exec();
    }
    bool AskYesNo(QWidget* parent, const QString& text) override {
        const auto box =
            NewMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, parent);
        box->setDefaultButton(QMessageBox::No);
        return box->exec() == QMessageBox::Yes;
    }
    void ShowException(QWidget* parent, const QString& text) override {
        NewMessageBox(QMessageBox::NoIcon, text, QMessageBox::Ok, parent)->exec();
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

std::unique_ptr<QMessageBox> NewMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent) {
    auto box =
        std::make_unique<QMessageBox>(icon, QStringLiteral("KOBITO Motion"), text, buttons, parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}

DialogService& Dialogs() {
    return g_current ? *g_current : g_real;
}

void SetDialogService(DialogService* service) {
    g_current = service;
}

void ShowCurrentException() {
    QString text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    Dialogs().ShowException(QApplication::activeWindow(), text);
}
