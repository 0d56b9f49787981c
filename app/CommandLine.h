#pragma once
// The program's command line: kobito-motion [OPTION]... [FILE]. Parsed before
// the application object exists, so that --help and --version work without a
// display.
#include <QString>
#include <QStringList>

namespace kobito {

struct CommandLine {
    bool run = true;  // false: print `output` and end with `exitCode`
    int exitCode = 0; // 0 for --help and --version, 2 for a usage error
    QString output;   // the text to print, ending in a line break
    bool toStderr = false;
    QString file; // the motion file to open after start-up; empty for none
};

// `arguments` as main() has them, the program's name first. Qt's own options
// (-platform, -style ...) are accepted and left to the application object.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace kobito
