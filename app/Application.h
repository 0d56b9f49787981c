#pragma once
#include <QApplication>

// The application object. Exceptions that escape an event handler end up
// here and are shown in a plain message box; the program goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Fonts and the dark style; the window's captions are Japanese first.
    static void ApplyLook();
};
