#include "Application.h"
#include "CommandLine.h"
#include "Console.h"
#include "uMain.h"

#include <QTimer>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const kobito::CommandLine early = kobito::ParseCommandLine(arguments);
    if (!early.run) {
        kobito::ReportCommandLine(early.output, early.toStderr);
        return early.exitCode;
    }

    TApplication app(argc, argv);
    // The application object's arguments have Qt's options taken out and, on
    // Windows, file names outside the ANSI code page intact.
    const QString file = kobito::ParseCommandLine(QCoreApplication::arguments()).file;
    TForm1 form;
    form.show();
    // From the event loop, as a press of Open would: the window is up before
    // a read error is shown, and what a handler throws reaches the display.
    if (!file.isEmpty())
        QTimer::singleShot(0, &form, [&form, file] { form.OpenMotionFile(file); });
    return app.exec();
}
