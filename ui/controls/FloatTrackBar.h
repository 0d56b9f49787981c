#pragma once
#include <QWidget>

// A slider with a floating-point value, minimum and maximum. The value is kept
// inside the range on every set and on every change of the bounds, and Change
// fires only when the value really changes (program or user alike). A rotated
// slider shows its minimum at the right.
class TFloatTrackBar : public QWidget {
    Q_OBJECT
public:
    explicit TFloatTrackBar(QWidget* parent = nullptr);

    float Value() const { return m_value; }
    void SetValue(float value);
    float Min() const { return m_min; }
    float Max() const { return m_max; }
    void SetMin(float min);
    void SetMax(float max);
    bool Rotated() const { return m_rotated; }
    void SetRotated(bool rotated);
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    QSize sizeHint() const override { return {142, 18}; }

signals:
    void Change();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    void Store(float value);
    float ValueAt(double x) const;
    double PositionOf(float value) const;
    double TrackLeft() const;
    double TrackRight() const;

    float m_value = 0;
    float m_min = 0;
    float m_max = 10;
    bool m_rotated = false;
    bool m_dragging = false;
    bool m_hover = false;
    int m_tag = 0;
};
