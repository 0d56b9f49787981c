// The bridge to Scratch's remote-sensor connection.
#include "uMain.h"

void TForm1::DisconnectScratch() {}
