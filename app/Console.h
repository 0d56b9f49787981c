#pragma once
// Where the command line's own output goes. A Windows program of the GUI
// kind has no console: it writes into the one it was started from, if any,
// and shows the text in a message box when there is none.
#include <QString>

namespace kobito {

// Writes text to standard output or standard error. False when the program
// has nowhere to write it.
bool WriteToConsole(const QString& text, bool toStderr);

// Writes text to the console, or shows it in a message box where there is
// none (Windows only; elsewhere standard output and error always exist).
void ReportCommandLine(const QString& text, bool toStderr);

} // namespace kobito
