// Presets of the two quick tabs: they only set the pose editor's sliders.
#include "uMain.h"

#include "Button.h"
#include "FloatTrackBar.h"

#include "Channels.h"
#include "Presets.h"

#include <QComboBox>

void TForm1::FillQuickCombos() {
    for (int k = 0; k <= 12; ++k)
        FillQuickCombo(k, Quick1Combos[size_t(k)]);
}

void TForm1::FillQuickCombo(int list, QComboBox* box) {
    box->clear();
    for (const std::string_view caption : kobito::QuickOptionTexts[size_t(list)]) {
        if (caption.empty())
            break;
        box->addItem(QString::fromUtf8(caption.data(), qsizetype(caption.size())));
    }
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

float TForm1::QuickValue(int channel, QComboBox* box) {
    const int n = box->currentIndex();
    return float(kobito::QuickOptionValues[size_t(channel)][size_t(n - 1)]);
}

void TForm1::btnQuickSetClick() {
    for (int k = 0; k < 15; ++k) {
        QComboBox* box = Quick1Combos[size_t(k)];
        if (box->currentIndex() > 0)
            dim_track_bar[size_t(k)]->SetValue(QuickValue(k, box));
    }
}

void TForm1::btnQuickResetClick() {
    for (QComboBox* box : Quick1Combos)
        box->setCurrentIndex(0);
}

void TForm1::btnQuickStop1Click() {
    for (int k = 0; k < kobito::ServoCount; ++k)
        dim_track_bar[size_t(k)]->SetValue(float(kobito::StopPose[size_t(k)]));
}

void TForm1::btnQuickWalkingClick(TButton* sender) {
    const int tag = sender->Tag();
    const int group = tag / 10;
    const int step = tag % 10;
    if (group < 1 || group > 4)
        return;
    ApplyWalkingPose(group - 1, step);
}

void TForm1::ApplyWalkingPose(int direction, int step) {
    if (direction < 0 || direction > 3 || step < 1 || step > 6)
        return;
    const auto& legs = kobito::WalkingTable[size_t(direction)][size_t(step - 1)];
    const int channels[4] = {kobito::RFY, kobito::RFP, kobito::LFY, kobito::LFP};
    for (int i = 0; i < 4; ++i)
        dim_track_bar[size_t(channels[i])]->SetValue(float(legs[size_t(i)]));
}
