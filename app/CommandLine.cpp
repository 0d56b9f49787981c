#include "CommandLine.h"

#include <QCommandLineParser>

namespace kobito {

namespace {

const char kUsage[] = "Usage: kobito-motion [OPTION]... [FILE]\n";

const char kHelp[] = R"(Motion editor and controller for the KOBITO robot.

FILE, a motion file (*.kmf), is opened after start-up as the Open button
opens it: the list shows its rows and the title bar its path. A file that
cannot be read is reported and leaves the list cleared.

Options:
  -h, --help     show this text and exit
  -v, --version  show the version and exit

Qt's own options, such as -platform NAME or -style NAME, are also taken.
)";

// The options QGuiApplication and QApplication take out of the arguments
// themselves; they must not count as unknown here.
const char* const kQtValueOptions[] = {"platform",      "platformpluginpath",
                                       "platformtheme", "plugin",
                                       "qmljsdebugger", "qwindowgeometry",
                                       "geometry",      "qwindowicon",
                                       "icon",          "qwindowtitle",
                                       "title",         "display",
                                       "name",          "session",
                                       "style",         "stylesheet"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "testability"};

CommandLine UsageError(const QString& message) {
    CommandLine c;
    c.run = false;
    c.exitCode = 2;
    c.toStderr = true;
    c.output = QStringLiteral("kobito-motion: ") + message + QLatin1Char('\n') +
               QLatin1String(kUsage) +
               QStringLiteral("Try 'kobito-motion --help' for more information.\n");
    return c;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // Qt's options come with one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : kQtValueOptions)
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char* name : kQtFlagOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    if (!parser.parse(arguments))
        return UsageError(parser.errorText());

    CommandLine c;
    if (parser.isSet(help)) {
        c.run = false;
        c.output = QLatin1String(kUsage) + QLatin1String(kHelp);
        return c;
    }
    if (parser.isSet(version)) {
        c.run = false;
        c.output = QStringLiteral("KOBITO Motion " KOBITO_VERSION "\n");
        return c;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return UsageError(QStringLiteral("one motion file at most, %1 given").arg(files.size()));
    if (!files.isEmpty())
        c.file = files.front();
    return c;
}

} // namespace kobito
