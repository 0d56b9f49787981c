#include "ScaledLayout.h"

#include "Shapes.h"

#include <QEvent>

TScaledLayout::TScaledLayout(QWidget* parent, const QSizeF& designSize)
    : QWidget(parent), m_designSize(designSize) {
    resize(designSize.toSize());
}

void TScaledLayout::setDesignSize(const QSizeF& size) {
    if (size == m_designSize)
        return;
    m_designSize = size;
    relayout();
}

qreal TScaledLayout::scaleX() const {
    return m_designSize.width() > 0 ? width() / m_designSize.width() : 1.0;
}

qreal TScaledLayout::scaleY() const {
    return m_designSize.height() > 0 ? height() / m_designSize.height() : 1.0;
}

QTransform TScaledLayout::designTransform() const {
    return QTransform::fromScale(scaleX(), scaleY());
}

void TScaledLayout::addWidget(QWidget* widget, const QRectF& designRect) {
    if (widget->parentWidget() != this)
        widget->setParent(this);
    m_widgets.append({widget, designRect});
    widget->setGeometry(designTransform().mapRect(designRect).toAlignedRect());
}

void TScaledLayout::addShape(TShape* shape) {
    if (shape->parentWidget() == nullptr)
        shape->setParent(this);
    QWidget* host = shape->parentWidget();
    if (host != this) {
        Q_ASSERT(host->isAncestorOf(this));
        watchAncestorsUpTo(host);
    }
    m_shapes.append(shape);
    relayout();
}

void TScaledLayout::relayout() {
    const QTransform own = designTransform();
    for (const Placed& placed : std::as_const(m_widgets)) {
        if (placed.widget)
            placed.widget->setGeometry(own.mapRect(placed.designRect).toAlignedRect());
    }
    for (const QPointer<TShape>& shape : std::as_const(m_shapes)) {
        if (!shape)
            continue;
        QWidget* host = shape->parentWidget();
        if (host == this || host == nullptr || !host->isAncestorOf(this)) {
            shape->setDesignTransform(own);
        } else {
            const QPoint offset = mapTo(host, QPoint(0, 0));
            shape->setDesignTransform(own * QTransform::fromTranslate(offset.x(), offset.y()));
        }
    }
}

void TScaledLayout::watchAncestorsUpTo(QWidget* ancestor) {
    // A shape hosted higher up moves with this layout and with every widget
    // between the two.
    for (QWidget* w = parentWidget(); w != nullptr && w != ancestor; w = w->parentWidget()) {
        if (!m_watched.contains(w)) {
            m_watched.append(w);
            w->installEventFilter(this);
        }
    }
}

void TScaledLayout::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void TScaledLayout::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    relayout();
}

void TScaledLayout::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    relayout();
}

bool TScaledLayout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        relayout();
    return QWidget::eventFilter(watched, event);
}
