// The pose editor: sliders and edit boxes that always agree, the range grid
// and the Test button.
#include "uMain.h"

#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Splitter.h"

#include "Channels.h"
#include "TextRules.h"

#include <QLabel>
#include <QTableWidget>

QString TForm1::ValueToText(float value) {
    return QString::number(kobito::TruncateToInt32(double(value)));
}

void TForm1::edtChanged(TEditBox* sender) {
    const int k = sender->Tag();
    const int value = kobito::StrToIntDef(dim_edit[size_t(k)]->Text(), 0);
    dim_track_bar[size_t(k)]->SetValue(float(value));
}

void TForm1::trackbarChanged(TFloatTrackBar* sender) {
    const int k = sender->Tag();
    SyncChannel(dim_track_bar[size_t(k)], dim_edit[size_t(k)], dim_arc[size_t(k)]);
}

void TForm1::SyncChannel(TFloatTrackBar* trackBar, TEditBox* edit, TArc* arc) {
    edit->SetText(ValueToText(trackBar->Value()));
    if (arc)
        PlacePositionArc(trackBar->Tag(), trackBar->Value());
    UpdateEyeColor();
}

void TForm1::UpdateRanges() {
    for (int k = 0; k < kobito::ServoCount; ++k)
        ApplyServoRange(dim_track_bar[size_t(k)], dim_arc_range[size_t(k)]);
    for (int k = kobito::ServoCount; k < kobito::ChannelCount; ++k) {
        dim_track_bar[size_t(k)]->SetMin(0);
        dim_track_bar[size_t(k)]->SetMax(255);
    }
    for (int k = 0; k < kobito::ChannelCount; ++k) {
        m_minLabels[size_t(k)]->setText(ValueToText(dim_track_bar[size_t(k)]->Min()));
        m_maxLabels[size_t(k)]->setText(ValueToText(dim_track_bar[size_t(k)]->Max()));
    }
}

void TForm1::ApplyServoRange(TFloatTrackBar* trackBar, TArc* rangeArc) {
    const int r = trackBar->Tag();
    auto cell = [this, r](int c) {
        const QTableWidgetItem* item = grdRange->item(r, c);
        return item ? item->text() : QString();
    };
    const float min = kobito::StrToFloatDef(cell(1), 0.0f);
    const float max = kobito::StrToFloatDef(cell(2), 180.0f);
    trackBar->SetMin(min);
    trackBar->SetMax(max);
    if (rangeArc)
        PlaceRangeArc(r, min, max);
}

void TForm1::grdRangeSelChanged() {
    UpdateRanges();
}

void TForm1::grdRangeKeyUp(int key) {
    if (key == 13)
        UpdateRanges();
}

void TForm1::Splitter1DblClick() {
    const int width = grdRange->width() == 100 ? int(GrdRangeFullW) : 100;
    Splitter1->setSizes({width, Splitter1->width() - width - Splitter1->handleWidth()});
}

void TForm1::btnTestClick() {
    for (int k = 0; k < kobito::ChannelCount; ++k)
        out_val[size_t(k)] = kobito::TruncateToInt32(double(dim_track_bar[size_t(k)]->Value()));
    SendPose();
}
