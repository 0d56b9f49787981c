#pragma once
// A picture from an SVG resource, fitted into the widget with its
// proportions kept and centred.

#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent = nullptr);

    // False when the file could not be read as SVG.
    bool load(const QString& fileName);
    bool isNull() const { return !m_svg.isValid(); }
    // Where the picture lands inside the widget.
    QRectF pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QSvgRenderer m_svg;
    QPixmap m_cache;
};
