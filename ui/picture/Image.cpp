#include "Image.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <algorithm>

#ifndef KOBITO_ART_PNG
#include <QSvgRenderer>

struct TImage::Vector {
    explicit Vector(const QString& fileName) : renderer(fileName) {}
    QSvgRenderer renderer;
};
#else
struct TImage::Vector {};
#endif

TImage::TImage(QWidget* parent) : QWidget(parent) {}

TImage::~TImage() = default;

bool TImage::load(const QString& baseName) {
    m_svg.reset();
    m_sizes.clear();
    m_cache = {};
    update();
#ifndef KOBITO_ART_PNG
    m_svg = std::make_unique<Vector>(baseName + QStringLiteral(".svg"));
    return m_svg->renderer.isValid();
#else
    // "robot-482.png", "robot-964.png" ...: the same art at several heights.
    const QFileInfo base(baseName);
    const QDir dir = base.dir();
    for (const QString& name :
         dir.entryList({base.fileName() + QStringLiteral("-*.png")}, QDir::Files)) {
        QImage image(dir.filePath(name));
        if (!image.isNull())
            m_sizes.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    std::sort(m_sizes.begin(), m_sizes.end(),
              [](const QImage& a, const QImage& b) { return a.height() < b.height(); });
    return !m_sizes.empty();
#endif
}

bool TImage::isNull() const {
#ifndef KOBITO_ART_PNG
    if (m_svg && m_svg->renderer.isValid())
        return false;
#endif
    return m_sizes.empty();
}

QSizeF TImage::sourceSize() const {
#ifndef KOBITO_ART_PNG
    if (m_svg)
        return m_svg->renderer.viewBoxF().size();
#endif
    if (m_sizes.empty())
        return {};
    // The renderer records the art's own size; whole pixels would lose its
    // exact proportions.
    const QStringList art = m_sizes.back().text(QStringLiteral("ArtSize")).split(u' ');
    if (art.size() == 2) {
        const QSizeF size(art[0].toDouble(), art[1].toDouble());
        if (!size.isEmpty())
            return size;
    }
    return QSizeF(m_sizes.back().size());
}

QRectF TImage::pictureRect() const {
    const QSizeF source = sourceSize();
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

void TImage::render(QPainter& painter, const QRectF& target, qreal dpr) const {
#ifndef KOBITO_ART_PNG
    if (m_svg) {
        m_svg->renderer.render(&painter, target);
        return;
    }
#endif
    // The smallest rendering that needs no enlarging, else the largest.
    const qreal needed = target.height() * dpr;
    auto it = std::find_if(m_sizes.begin(), m_sizes.end(), [needed](const QImage& image) {
        return image.height() >= needed - 0.5;
    });
    const QImage& image = it != m_sizes.end() ? *it : m_sizes.back();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

void TImage::paintEvent(QPaintEvent*) {
    if (isNull())
        return;
    // The arcs above repaint on every slider step; rendering the art each
    // time would be wasted work.
    const qreal dpr = devicePixelRatioF();
    if (m_cache.isNull()) {
        m_cache = QPixmap((QSizeF(size()) * dpr).toSize());
        m_cache.setDevicePixelRatio(dpr);
        m_cache.fill(Qt::transparent);
        QPainter p(&m_cache);
        p.setRenderHint(QPainter::Antialiasing);
        render(p, pictureRect(), dpr);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_cache);
}
