// Renders the main window, as it stands after start-up, to a PNG file.
#include "Application.h"
#include "uMain.h"

#include <QPixmap>
#include <QTabWidget>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: kobito-screenshot FILE.png [TAB]\n");
        return 2;
    }
    // Rendering needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    if (argc == 3) {
        auto* tabs = form.findChild<QTabWidget*>(QStringLiteral("TabControl"));
        if (auto* page = form.findChild<QWidget*>(QString::fromLocal8Bit(argv[2])))
            tabs->setCurrentWidget(page);
    }
    QApplication::processEvents();
    const QPixmap shot = form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "kobito-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
