#include "Button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

TButton::TButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void TButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    const QRect area = rect().adjusted(3, 2, -3, -2);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, caption);
}
