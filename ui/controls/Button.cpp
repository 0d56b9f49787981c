#include "Button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

TButton::TButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void TButton::SetCaption(const QString& caption) {
    QString escaped = caption;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    setText(escaped);
}

QString TButton::Caption() const {
    // "&&" is a literal "&"; a lone "&" only marks the shortcut letter.
    const QString escaped = text();
    QString caption;
    caption.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == QLatin1Char('&') && ++i == escaped.size())
            break;
        caption += escaped[i];
    }
    return caption;
}

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
    // Drawn as the shortcut machinery reads it, so an escaped "&&" shows as one "&".
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, caption);
}
