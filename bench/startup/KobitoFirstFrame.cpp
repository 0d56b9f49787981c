// The program's start-up exactly as its main does it, ending after the first
// frame of the window.
#include "Application.h"
#include "FirstFrame.h"
#include "uMain.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    new kobito::bench::FirstFrame(&form);
    return app.exec();
}
