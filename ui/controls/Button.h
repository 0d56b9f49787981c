#pragma once
#include <QPushButton>

// A push button that wraps its caption to its width, as the window's narrow
// buttons ("新規 New") need.
class TButton : public QPushButton {
    Q_OBJECT
public:
    explicit TButton(const QString& text = {}, QWidget* parent = nullptr);

    // A caption taken from outside (a file name): shown as it is, "&" included, and never
    // made into a keyboard shortcut.
    void SetCaption(const QString& caption);
    // The caption as shown: the text without its mnemonic escapes.
    QString Caption() const;

    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int m_tag = 0;
};
