// Renders the main window, as it stands after start-up, to a PNG file.
#include "Application.h"
#include "uMain.h"

#include <QPixmap>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kobito-screenshot FILE.png\n");
        return 2;
    }
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    QApplication::processEvents();
    const QPixmap shot = form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "kobito-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
