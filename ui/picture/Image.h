#pragma once
// The robot's art, fitted into the widget with its proportions kept and
// centred. Drawn from the SVG where Qt SVG exists, else from PNGs rendered
// at build time at several sizes.

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <memory>
#include <vector>

class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    // Loads the art named by a resource path without its extension
    // (":/picture/robot"). False when it could not be read.
    bool load(const QString& baseName);
    bool isNull() const;
    // Where the picture lands inside the widget.
    QRectF pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QSizeF sourceSize() const;
    void render(QPainter& painter, const QRectF& target, qreal dpr) const;

    struct Vector; // the SVG renderer, where Qt SVG exists
    std::unique_ptr<Vector> m_svg;
    std::vector<QImage> m_sizes; // rendered art, smallest first
    QPixmap m_cache;
};
