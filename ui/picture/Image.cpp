#include "Image.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

bool TImage::load(const QString& fileName) {
    const bool ok = m_svg.load(fileName);
    m_cache = {};
    update();
    return ok;
}

QRectF TImage::pictureRect() const {
    const QSizeF source = m_svg.viewBoxF().size();
    if (source.isEmpty() || width() <= 0 || height() <= 0)
        return {};
    const QSizeF fitted = source.scaled(size(), Qt::KeepAspectRatio);
    return {(width() - fitted.width()) / 2, (height() - fitted.height()) / 2, fitted.width(),
            fitted.height()};
}

void TImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_cache = {};
}

void TImage::paintEvent(QPaintEvent*) {
    if (isNull())
        return;
    // The arcs above repaint on every slider step; rendering the vector art
    // each time would be wasted work.
    const qreal dpr = devicePixelRatioF();
    if (m_cache.isNull()) {
        m_cache = QPixmap((QSizeF(size()) * dpr).toSize());
        m_cache.setDevicePixelRatio(dpr);
        m_cache.fill(Qt::transparent);
        QPainter p(&m_cache);
        p.setRenderHint(QPainter::Antialiasing);
        m_svg.render(&p, pictureRect());
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_cache);
}
