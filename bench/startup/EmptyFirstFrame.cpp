// The baseline: an empty Qt main window, ending after its first frame.
#include "FirstFrame.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    new kobito::bench::FirstFrame(&window);
    return app.exec();
}
