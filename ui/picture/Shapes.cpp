#include "Shapes.h"

#include <QBitmap>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>
#include <algorithm>
#include <cmath>

namespace {

// Pixels around a stroke that still count as pointing at it: a 3-pixel dashed
// line is hard to hit otherwise, and hover should not flicker between dashes.
constexpr qreal PointerTolerance = 3;

// Dash and gap in units of the stroke's width.
const QList<qreal> DashPattern = {3, 2};

qreal ScaleOf(const QTransform& t) {
    return std::sqrt(std::abs(t.determinant()));
}

} // namespace

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::setStrokeColor(const QColor& color) {
    if (color == m_stroke)
        return;
    const bool hadStroke = hasStroke();
    m_stroke = color;
    if (hasStroke() != hadStroke)
        updateMask();
    update();
}

void TShape::setStrokeThickness(float thickness) {
    thickness = std::max(thickness, 0.0f);
    if (thickness == m_thickness)
        return;
    m_thickness = thickness;
    geometryChanged();
}

void TShape::setDashed(bool dashed) {
    if (dashed == m_dashed)
        return;
    m_dashed = dashed;
    update();
}

void TShape::setFillColor(const QColor& color) {
    if (color == m_fill)
        return;
    const bool hadFill = hasFill();
    m_fill = color;
    if (hasFill() != hadFill)
        updateMask();
    update();
}

void TShape::setPointerEnabled(bool enabled) {
    if (enabled == m_pointer)
        return;
    m_pointer = enabled;
    setAttribute(Qt::WA_TransparentForMouseEvents, !takesPointer());
    updateMask();
}

void TShape::setDesignTransform(const QTransform& transform) {
    if (transform == m_transform)
        return;
    m_transform = transform;
    geometryChanged();
}

QRectF TShape::designBounds() const {
    const qreal t = m_thickness;
    return designPath().boundingRect().adjusted(-t, -t, t, t);
}

void TShape::geometryChanged() {
    const int pad = static_cast<int>(std::ceil(PointerTolerance)) + 1;
    QRectF bounds = m_transform.mapRect(designBounds());
    // Absurd angles (from a range bound such as 1e30) give no finite
    // rectangle; such a shape is placed nowhere, and none grows past a few
    // windows' size, instead of overflowing.
    if (!std::isfinite(bounds.left()) || !std::isfinite(bounds.top()) ||
        !std::isfinite(bounds.width()) || !std::isfinite(bounds.height()))
        bounds = QRectF();
    const QRect pixels = bounds.intersected(QRectF(-2000, -2000, 4000, 4000)).toAlignedRect();
    setGeometry(pixels.adjusted(-pad, -pad, pad, pad));
    updateMask();
    update();
}

QTransform TShape::localTransform() const {
    return m_transform * QTransform::fromTranslate(-pos().x(), -pos().y());
}

void TShape::updateMask() {
    m_maskStale = false;
    if (!takesPointer() || size().isEmpty()) {
        clearMask();
        return;
    }
    // A picture being built changes each shape several times before it is
    // shown; the mask is made once, as the window is polished for showing.
    if (!isVisible()) {
        m_maskStale = true;
        return;
    }
    buildMask();
}

void TShape::buildMask() {
    m_maskStale = false;
    // The mask also clips painting, so it is the painted area grown by the
    // tolerance; drawn without antialiasing for a crisp edge.
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        const QPainterPath path = localTransform().map(designPath());
        if (hasFill())
            p.fillPath(path, Qt::black);
        if (hasStroke()) {
            const qreal width = m_thickness * ScaleOf(m_transform) + 2 * PointerTolerance;
            p.strokePath(path, QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }
    }
    const QRegion region(QBitmap::fromImage(image.createAlphaMask()));
    // An empty mask would mean no mask at all: the whole box would take the
    // pointer. A shape with nothing to show takes none.
    setAttribute(Qt::WA_TransparentForMouseEvents, region.isEmpty());
    if (region.isEmpty())
        setMask(QRegion(0, 0, 1, 1));
    else
        setMask(region);
}

void TShape::paintShape(QPainter& painter) {
    const QPainterPath path = designPath();
    if (hasFill())
        painter.fillPath(path, m_fill);
    if (hasStroke()) {
        QPen pen(m_stroke, m_thickness, Qt::SolidLine, capStyle(), Qt::RoundJoin);
        if (m_dashed)
            pen.setDashPattern(DashPattern);
        painter.strokePath(path, pen);
    }
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setTransform(localTransform());
    paintShape(painter);
}

bool TShape::event(QEvent* event) {
    // Polished before it shows: a mask set then costs no repaint of what lies
    // beneath, as one set on a visible widget does.
    if (event->type() == QEvent::Polish && m_maskStale)
        buildMask();
    return QWidget::event(event);
}

void TShape::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_maskStale)
        buildMask();
}

void TShape::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit MouseEnter();
}

void TShape::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit MouseLeave();
}

// ---- box shapes

void TBoxShape::setBox(const QRectF& box) {
    if (box == m_box)
        return;
    m_box = box;
    geometryChanged();
}

QRectF TBoxShape::strokeRect() const {
    const qreal half = strokeThickness() / 2.0;
    return m_box.adjusted(half, half, -half, -half);
}

QPainterPath TCircle::designPath() const {
    QPainterPath path;
    path.addEllipse(strokeRect());
    return path;
}

void TRoundRect::setCornerRadius(qreal radius) {
    if (radius == m_radius)
        return;
    m_radius = radius;
    geometryChanged();
}

QPainterPath TRoundRect::designPath() const {
    const QRectF r = strokeRect();
    const qreal radius = m_radius < 0 ? std::min(r.width(), r.height()) / 2 : m_radius;
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// ---- arc

TArc::TArc(QWidget* parent) : TBoxShape(parent) {}

void TArc::setStartAngle(float degrees) {
    if (degrees == m_start)
        return;
    m_start = degrees;
    geometryChanged();
}

void TArc::setSweep(float degrees) {
    if (degrees == m_sweep)
        return;
    m_sweep = degrees;
    geometryChanged();
}

qreal TArc::radius() const {
    return (std::min(box().width(), box().height()) - strokeThickness()) / 2;
}

QPainterPath TArc::designPath() const {
    // Qt counts angles counter-clockwise; ours run clockwise on screen.
    const QRectF r = strokeRect();
    QPainterPath path;
    path.arcMoveTo(r, -m_start);
    path.arcTo(r, -m_start, -m_sweep);
    return path;
}

// ---- leader line

void TLine::setLine(qreal x, qreal y, qreal length, qreal rotation) {
    if (x == m_x && y == m_y && length == m_length && rotation == m_rotation)
        return;
    m_x = x;
    m_y = y;
    m_length = length;
    m_rotation = rotation;
    geometryChanged();
}

QTransform TLine::boxRotation() const {
    const QPointF c(m_x + m_length / 2, m_y + BoxHeight / 2);
    QTransform t;
    t.translate(c.x(), c.y());
    t.rotate(m_rotation); // clockwise on screen, y pointing down
    t.translate(-c.x(), -c.y());
    return t;
}

QPointF TLine::p1() const {
    return boxRotation().map(QPointF(m_x, m_y));
}

QPointF TLine::p2() const {
    return boxRotation().map(QPointF(m_x + m_length, m_y + BoxHeight));
}

QPainterPath TLine::designPath() const {
    QPainterPath path(p1());
    path.lineTo(p2());
    return path;
}

// ---- label

TShapeLabel::TShapeLabel(QWidget* parent) : TBoxShape(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStrokeThickness(0);
}

void TShapeLabel::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void TShapeLabel::setFontColor(const QColor& color) {
    if (color == m_fontColor)
        return;
    m_fontColor = color;
    update();
}

QPainterPath TShapeLabel::designPath() const {
    QPainterPath path;
    path.addRect(box());
    return path;
}

void TShapeLabel::paintShape(QPainter& painter) {
    painter.setPen(m_fontColor);
    painter.setFont(font());
    painter.drawText(box(), Qt::AlignCenter, m_text);
}
