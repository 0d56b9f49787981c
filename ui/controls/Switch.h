#pragma once
#include <QAbstractButton>

// An on/off switch; a label may be placed inside it as a child. Switch fires
// on every change of the state, by the user or by the program.
class TSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit TSwitch(QWidget* parent = nullptr);

    bool IsChecked() const { return isChecked(); }
    void SetIsChecked(bool on) { setChecked(on); }

signals:
    void Switch();

protected:
    void paintEvent(QPaintEvent*) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};
