// The settings file: read once at start-up, written once at shutdown.
#include "uMain.h"

void TForm1::LoadSettings() {}

void TForm1::SaveSettings() {}
