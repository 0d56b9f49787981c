#include "Switch.h"

#include <QPainter>

TSwitch::TSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::toggled, this, [this] { emit Switch(); });
}

void TSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = r.height() / 2;
    const bool on = isChecked();
    QColor track = on ? QColor(0x2e, 0x8b, 0x57) : QColor(0x4a, 0x4f, 0x58);
    if (!isEnabled())
        track = QColor(0x3a, 0x3a, 0x3a);
    p.setPen(QPen(QColor(0x22, 0x25, 0x2a), 1));
    p.setBrush(track);
    p.drawRoundedRect(r, radius, radius);
    const double d = r.height() - 4;
    const double x = on ? r.right() - d - 2 : r.left() + 2;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf0, 0xf0, 0xf0));
    p.drawEllipse(QRectF(x, r.top() + 2, d, d));
}
