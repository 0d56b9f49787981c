// The bridge to Scratch's remote-sensor connection.
#include "uMain.h"

void TForm1::DisconnectScratch() {}

bool TForm1::ScratchConnected() {
    return false;
}

void TForm1::ScratchListEndNotification() {}
