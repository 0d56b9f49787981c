#pragma once
// A design space of fixed size scaled to the widget's current size. Children
// are given in design units; the layout maps them to pixels whenever its
// size or its place changes.

#include <QList>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QTransform>
#include <QWidget>

class TShape;

class TScaledLayout : public QWidget {
    Q_OBJECT

public:
    explicit TScaledLayout(QWidget* parent = nullptr, const QSizeF& designSize = {636, 482});

    QSizeF designSize() const { return m_designSize; }
    void setDesignSize(const QSizeF& size);
    qreal scaleX() const;
    qreal scaleY() const;

    // Design units to this widget's pixels.
    QTransform designTransform() const;

    // A widget placed by its design rectangle; it becomes a child.
    void addWidget(QWidget* widget, const QRectF& designRect);
    // A shape in design units. Its parent is this layout, or an ancestor of
    // it for shapes that must reach beyond the layout's own area.
    void addShape(TShape* shape);

    // Places every child again.
    void relayout();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placed {
        QPointer<QWidget> widget;
        QRectF designRect;
    };

    void watchAncestorsUpTo(QWidget* ancestor);

    QSizeF m_designSize;
    QList<Placed> m_widgets;
    QList<QPointer<TShape>> m_shapes;
    QList<QPointer<QWidget>> m_watched;
};
