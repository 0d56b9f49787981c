#pragma once
// Vector shapes drawn over the robot picture. Each shape is a small widget
// that covers its own bounds and takes the pointer only on its stroke (and on
// its fill, where it has one), so clicks beside the stroke reach the controls
// underneath. Geometry is given in design units; the scaled layout (or the
// identity, for shapes placed in window coordinates) maps it to pixels.

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <QWidget>

class QPainter;

class TShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Tag READ tag WRITE setTag)

public:
    explicit TShape(QWidget* parent = nullptr);

    QColor strokeColor() const { return m_stroke; }
    void setStrokeColor(const QColor& color);
    float strokeThickness() const { return m_thickness; }
    void setStrokeThickness(float thickness);
    bool isDashed() const { return m_dashed; }
    void setDashed(bool dashed);
    // Qt::transparent means no fill.
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& color);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // The colour that outlines the shape's body part: the stroke here, the
    // text for a label.
    virtual QColor outlineColor() const { return strokeColor(); }
    virtual void setOutlineColor(const QColor& color) { setStrokeColor(color); }

    // Design units of the parent's space to the parent's pixels.
    QTransform designTransform() const { return m_transform; }
    void setDesignTransform(const QTransform& transform);

    // What the shape paints, in design units, stroke included.
    virtual QRectF designBounds() const;

    // Off: the shape lets the pointer through everywhere and keeps no mask,
    // for a picture that only shows (the mask is rebuilt on every move).
    void setPointerEnabled(bool enabled);

signals:
    void MouseEnter();
    void MouseLeave();

protected:
    // The stroked (and filled) outline in design units of the parent's space.
    virtual QPainterPath designPath() const = 0;
    virtual Qt::PenCapStyle capStyle() const { return Qt::FlatCap; }
    virtual void paintShape(QPainter& painter);
    // Whether the shape takes the pointer at all.
    virtual bool takesPointer() const { return m_pointer; }

    // Call after any change of geometry: moves the widget, rebuilds the mask.
    void geometryChanged();
    bool hasStroke() const { return m_thickness > 0 && m_stroke.alpha() > 0; }
    bool hasFill() const { return m_fill.alpha() > 0; }

    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QTransform localTransform() const;
    void updateMask();
    void buildMask();

    QColor m_stroke{Qt::black};
    QColor m_fill{Qt::transparent};
    float m_thickness = 1;
    bool m_dashed = false;
    bool m_pointer = true;
    bool m_maskStale = false;
    int m_tag = 0;
    QTransform m_transform;
};

// A shape that fills a box: circle, rounded rectangle, arc, label.
class TBoxShape : public TShape {
    Q_OBJECT

public:
    using TShape::TShape;

    QRectF box() const { return m_box; }
    void setBox(const QRectF& box);
    void setBox(qreal x, qreal y, qreal width, qreal height) { setBox({x, y, width, height}); }

protected:
    // The box inset by half the stroke, so that the stroke stays inside it.
    QRectF strokeRect() const;

private:
    QRectF m_box;
};

// An ellipse in its box.
class TCircle : public TBoxShape {
    Q_OBJECT

public:
    using TBoxShape::TBoxShape;

protected:
    QPainterPath designPath() const override;
};

// A rounded rectangle; the corner radius defaults to half the shorter side.
class TRoundRect : public TBoxShape {
    Q_OBJECT

public:
    using TBoxShape::TBoxShape;

    // Negative: half the shorter side.
    qreal cornerRadius() const { return m_radius; }
    void setCornerRadius(qreal radius);

protected:
    QPainterPath designPath() const override;

private:
    qreal m_radius = -1;
};

// An arc on the circle inscribed in its box, inset by half the stroke.
// Angles are degrees clockwise on screen from 3 o'clock; a negative sweep runs
// counter-clockwise.
class TArc : public TBoxShape {
    Q_OBJECT

public:
    explicit TArc(QWidget* parent = nullptr);

    float startAngle() const { return m_start; }
    void setStartAngle(float degrees);
    float sweep() const { return m_sweep; }
    void setSweep(float degrees);

    // The circle the stroke runs along, in design units.
    QPointF centre() const { return box().center(); }
    qreal radius() const;

protected:
    QPainterPath designPath() const override;
    Qt::PenCapStyle capStyle() const override { return Qt::RoundCap; }

private:
    float m_start = 0;
    float m_sweep = 0;
};

// A leader line: the diagonal, top-left to bottom-right, of a box of the
// given length and 3 high at x, y, the box rotated clockwise about its centre.
class TLine : public TShape {
    Q_OBJECT

public:
    static constexpr qreal BoxHeight = 3;

    using TShape::TShape;

    void setLine(qreal x, qreal y, qreal length, qreal rotation);
    QPointF origin() const { return {m_x, m_y}; }
    qreal length() const { return m_length; }
    qreal rotation() const { return m_rotation; }

    // End points in design units.
    QPointF p1() const;
    QPointF p2() const;

protected:
    QPainterPath designPath() const override;

private:
    QTransform boxRotation() const;

    qreal m_x = 0;
    qreal m_y = 0;
    qreal m_length = 0;
    qreal m_rotation = 0;
};

// Text centred in its box; it never takes the pointer.
class TShapeLabel : public TBoxShape {
    Q_OBJECT

public:
    explicit TShapeLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor& color);

    QColor outlineColor() const override { return fontColor(); }
    void setOutlineColor(const QColor& color) override { setFontColor(color); }

    QRectF designBounds() const override { return box(); }

protected:
    QPainterPath designPath() const override;
    void paintShape(QPainter& painter) override;
    bool takesPointer() const override { return false; }

private:
    QString m_text;
    QColor m_fontColor{Qt::black};
};
