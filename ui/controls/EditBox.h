#pragma once
#include <QLineEdit>

// An edit box whose Change fires when the program sets a different text, and
// when the user has typed and then presses Enter or leaves the box. Typing
// alone fires nothing, so half-typed numbers never reach the slider.
class TEditBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TEditBox(QWidget* parent = nullptr);

    QString Text() const { return text(); }
    void SetText(const QString& text);
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

signals:
    void Change();

private:
    void Finish();

    bool m_typed = false;
    int m_tag = 0;
};
