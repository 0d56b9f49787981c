// The window's side of the robot link: port selection, the log and the console.
#include "uMain.h"

#include "EditBox.h"

#include <QPlainTextEdit>

void TForm1::ApplyPortSettings() {}

void TForm1::ClearLog() {
    memLog->clear();
}

void TForm1::ClearCommand() {
    edtCommand->SetText(QString());
}

void TForm1::AddLog(int source, int kind, const QString& text) {
    (void)source;
    (void)kind;
    (void)text;
}
