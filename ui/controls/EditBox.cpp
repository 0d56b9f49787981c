#include "EditBox.h"

TEditBox::TEditBox(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textEdited, this, [this] { m_typed = true; });
    connect(this, &QLineEdit::editingFinished, this, &TEditBox::Finish);
}

void TEditBox::SetText(const QString& text) {
    if (text == this->text())
        return;
    m_typed = false;
    setText(text);
    emit Change();
}

void TEditBox::Finish() {
    if (!m_typed)
        return;
    m_typed = false;
    emit Change();
}
