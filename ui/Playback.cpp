// Playback of the motion table on the robot, paced by its finished reply.
#include "uMain.h"

#include "Button.h"

#include <QTimer>

void TForm1::SetExecuting(bool running) {
    if (running == Executing)
        return;
    Executing = running;
    btnRun->setText(running ? QStringLiteral("中止 Break") : QStringLiteral("実行 Run"));
    UpdateControls();
    if (running)
        Timer1->start();
    else
        Timer1->stop();
}

void TForm1::PlaybackRxChar(int count) {
    (void)count;
}
