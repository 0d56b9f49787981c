#include "FloatTrackBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kThumbRadius = 6.0;
}

TFloatTrackBar::TFloatTrackBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(false);
}

void TFloatTrackBar::Store(float value) {
    value = std::clamp(value, m_min, m_max);
    if (value == m_value)
        return;
    m_value = value;
    update();
    emit Change();
}

void TFloatTrackBar::SetValue(float value) {
    if (std::isnan(value))
        return;
    Store(value);
}

void TFloatTrackBar::SetMin(float min) {
    if (std::isnan(min))
        return;
    m_min = min;
    if (m_max < m_min)
        m_max = m_min;
    update();
    Store(m_value);
}

void TFloatTrackBar::SetMax(float max) {
    if (std::isnan(max))
        return;
    // A maximum below the minimum is raised to it, leaving one possible value.
    m_max = std::max(max, m_min);
    update();
    Store(m_value);
}

void TFloatTrackBar::SetRotated(bool rotated) {
    m_rotated = rotated;
    update();
}

double TFloatTrackBar::TrackLeft() const {
    return kThumbRadius + 1;
}
double TFloatTrackBar::TrackRight() const {
    return width() - kThumbRadius - 1;
}

double TFloatTrackBar::PositionOf(float value) const {
    const double span = double(m_max) - double(m_min);
    double frac = span > 0 ? (double(value) - m_min) / span : 0.0;
    if (m_rotated)
        frac = 1.0 - frac;
    return TrackLeft() + frac * (TrackRight() - TrackLeft());
}

float TFloatTrackBar::ValueAt(double x) const {
    const double len = TrackRight() - TrackLeft();
    double frac = len > 0 ? (x - TrackLeft()) / len : 0.0;
    frac = std::clamp(frac, 0.0, 1.0);
    if (m_rotated)
        frac = 1.0 - frac;
    return float(m_min + frac * (double(m_max) - double(m_min)));
}

void TFloatTrackBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double cy = height() / 2.0;
    const QColor groove(0x55, 0x5b, 0x66);
    const QColor fill = isEnabled() ? QColor(0x3d, 0xa5, 0xf4) : QColor(0x6a, 0x6a, 0x6a);
    p.setPen(Qt::NoPen);
    p.setBrush(groove);
    p.drawRoundedRect(QRectF(TrackLeft(), cy - 2, TrackRight() - TrackLeft(), 4), 2, 2);
    const double thumb = PositionOf(m_value);
    // The filled part runs from the minimum end to the thumb.
    const double from = m_rotated ? TrackRight() : TrackLeft();
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(std::min(from, thumb), cy - 2, std::abs(thumb - from), 4), 2, 2);
    const QColor knob =
        (m_hover || m_dragging) ? QColor(0xff, 0xff, 0xff) : QColor(0xdd, 0xe3, 0xea);
    p.setBrush(knob);
    p.setPen(QPen(fill, 1.5));
    p.drawEllipse(QPointF(thumb, cy), kThumbRadius - 1, kThumbRadius - 1);
    if (hasFocus()) {
        p.setPen(QPen(QColor(0x3d, 0xa5, 0xf4, 0x80), 1));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(thumb, cy), kThumbRadius + 1, kThumbRadius + 1);
    }
}

void TFloatTrackBar::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(e);
    m_dragging = true;
    SetValue(ValueAt(e->position().x()));
}

void TFloatTrackBar::mouseMoveEvent(QMouseEvent* e) {
    if (m_dragging)
        SetValue(ValueAt(e->position().x()));
}

void TFloatTrackBar::mouseReleaseEvent(QMouseEvent* e) {
    if (m_dragging && e->button() == Qt::LeftButton) {
        m_dragging = false;
        update();
    }
}

void TFloatTrackBar::keyPressEvent(QKeyEvent* e) {
    // Arrow keys move toward the side they point at, also on a rotated slider.
    const float step = 1.0f;
    switch (e->key()) {
    case Qt::Key_Left:
        SetValue(m_value + (m_rotated ? step : -step));
        break;
    case Qt::Key_Right:
        SetValue(m_value + (m_rotated ? -step : step));
        break;
    case Qt::Key_Down:
        SetValue(m_value - step);
        break;
    case Qt::Key_Up:
        SetValue(m_value + step);
        break;
    case Qt::Key_Home:
        SetValue(m_min);
        break;
    case Qt::Key_End:
        SetValue(m_max);
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
}

void TFloatTrackBar::wheelEvent(QWheelEvent* e) {
    if (!hasFocus())
        return e->ignore();
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0)
        SetValue(m_value + float(steps));
}

void TFloatTrackBar::enterEvent(QEnterEvent* e) {
    m_hover = true;
    update();
    QWidget::enterEvent(e);
}

void TFloatTrackBar::leaveEvent(QEvent* e) {
    m_hover = false;
    update();
    QWidget::leaveEvent(e);
}
