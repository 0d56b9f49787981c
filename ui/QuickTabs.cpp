// Presets of the two quick tabs: they only set the pose editor's sliders.
#include "uMain.h"

#include "FloatTrackBar.h"

#include "Channels.h"

void TForm1::FillQuickCombos() {}

void TForm1::btnQuickStop1Click() {
    for (int k = 0; k < kobito::ServoCount; ++k)
        dim_track_bar[size_t(k)]->SetValue(float(kobito::StopPose[size_t(k)]));
}
