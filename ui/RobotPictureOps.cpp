// The robot picture's operations: arcs follow the sliders and ranges, the
// eyes show the colour, and pointing at a body part highlights its outline.
#include "uMain.h"

#include "EditBox.h"
#include "FloatTrackBar.h"

#include "Channels.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <cmath>

namespace {
QColor FromArgb(uint32_t argb) {
    return QColor::fromRgba(argb);
}
} // namespace

float TForm1::ArcAngle(int direction, float value, float base) {
    return base + value * float(direction);
}

void TForm1::PlacePositionArc(int k, float value) {
    TArc* arc = dim_arc[size_t(k)];
    if (!arc)
        return;
    const int d = arc->sweep() >= 0 ? 1 : -1;
    const float w = float(d) * arc->sweep();
    arc->setStartAngle(ArcAngle(d, value - w / 2, float(arc->tag())));
}

void TForm1::PlaceRangeArc(int k, float min, float max) {
    TArc* arc = dim_arc_range[size_t(k)];
    if (!arc)
        return;
    const int d = dim_track_bar[size_t(k)]->Rotated() ? 1 : -1;
    arc->setStartAngle(ArcAngle(d, min, float(arc->tag())));
    arc->setSweep((max - min) * float(d));
}

void TForm1::UpdateEyeColor() {
    auto channel = [this](int k) {
        return uint32_t(int64_t(std::trunc(double(dim_track_bar[size_t(k)]->Value())))) & 0xFFu;
    };
    const uint32_t argb =
        0xFF000000u | channel(kobito::RED) << 16 | channel(kobito::GRN) << 8 | channel(kobito::BLU);
    m_picture.CirRightEye->setFillColor(FromArgb(argb));
    m_picture.CirLeftEye->setFillColor(FromArgb(argb));
}

void TForm1::HighlightPart(int part, uint32_t argb) {
    if (part < 0 || part >= kobito::ServoCount)
        return;
    for (TShape* shape : m_picture.highlight[size_t(part)])
        shape->setOutlineColor(FromArgb(argb));
}

void TForm1::trkMotorHeightChange() {
    for (TArc* arc : dim_arc)
        if (arc)
            arc->setStrokeThickness(trkMotorHeight->Value());
}

void TForm1::trkMotorWidthChange() {
    const float width = trkMotorWidth->Value();
    for (int k = 0; k < kobito::ServoCount; ++k) {
        TArc* arc = dim_arc[size_t(k)];
        if (!arc)
            continue;
        const int d = arc->sweep() >= 0 ? 1 : -1;
        arc->setSweep(width * float(d));
        arc->setStartAngle(
            ArcAngle(d, dim_track_bar[size_t(k)]->Value() - width / 2, float(arc->tag())));
    }
}

// ---- hover

void TForm1::PartMouseEnter(int part) {
    HighlightPart(part, 0xFFFF0000u);
}

void TForm1::PartMouseLeave(int part, QObject* sender) {
    // Moving from one hover source of a part into another keeps it highlighted.
    for (QWidget* source : m_hoverSources[size_t(part)])
        if (source != sender && source->underMouse())
            return;
    HighlightPart(part, DefaultColor);
}

#define KOBITO_HOVER_HANDLERS(NAME, PART)                                                          \
    void TForm1::NAME##MouseEnter(QObject*) {                                                      \
        PartMouseEnter(PART);                                                                      \
    }                                                                                              \
    void TForm1::NAME##MouseLeave(QObject* sender) {                                               \
        PartMouseLeave(PART, sender);                                                              \
    }

KOBITO_HOVER_HANDLERS(HDY, kobito::HDY)
KOBITO_HOVER_HANDLERS(WTY, kobito::WTY)
KOBITO_HOVER_HANDLERS(RSR, kobito::RSR)
KOBITO_HOVER_HANDLERS(RSP, kobito::RSP)
KOBITO_HOVER_HANDLERS(RHG, kobito::RHG)
KOBITO_HOVER_HANDLERS(LSR, kobito::LSR)
KOBITO_HOVER_HANDLERS(LSP, kobito::LSP)
KOBITO_HOVER_HANDLERS(LHG, kobito::LHG)
KOBITO_HOVER_HANDLERS(RFY, kobito::RFY)
KOBITO_HOVER_HANDLERS(RFP, kobito::RFP)
KOBITO_HOVER_HANDLERS(LFY, kobito::LFY)
KOBITO_HOVER_HANDLERS(LFP, kobito::LFP)
#undef KOBITO_HOVER_HANDLERS

void TForm1::ConnectHoverSources() {
    for (int k = 0; k < kobito::ServoCount; ++k) {
        QList<QWidget*>& sources = m_hoverSources[size_t(k)];
        sources = {m_quickBoxes[size_t(k)],  Quick1Combos[size_t(k)], m_channelGroups[size_t(k)],
                   dim_track_bar[size_t(k)], m_valueRows[size_t(k)],  dim_edit[size_t(k)]};
        for (TShape* shape : m_picture.hoverSources[size_t(k)])
            sources << shape;
        for (QWidget* source : sources) {
            source->setAttribute(Qt::WA_Hover);
            source->installEventFilter(this);
            source->setProperty("kobitoPart", k);
        }
    }
}

void TForm1::HoverEvent(QObject* watched, QEvent::Type type) {
    const QVariant part = watched->property("kobitoPart");
    if (!part.isValid())
        return;
    using Handler = void (TForm1::*)(QObject*);
    static constexpr Handler enter[12] = {
        &TForm1::HDYMouseEnter, &TForm1::WTYMouseEnter, &TForm1::RSRMouseEnter,
        &TForm1::RSPMouseEnter, &TForm1::RHGMouseEnter, &TForm1::LSRMouseEnter,
        &TForm1::LSPMouseEnter, &TForm1::LHGMouseEnter, &TForm1::RFYMouseEnter,
        &TForm1::RFPMouseEnter, &TForm1::LFYMouseEnter, &TForm1::LFPMouseEnter};
    static constexpr Handler leave[12] = {
        &TForm1::HDYMouseLeave, &TForm1::WTYMouseLeave, &TForm1::RSRMouseLeave,
        &TForm1::RSPMouseLeave, &TForm1::RHGMouseLeave, &TForm1::LSRMouseLeave,
        &TForm1::LSPMouseLeave, &TForm1::LHGMouseLeave, &TForm1::RFYMouseLeave,
        &TForm1::RFPMouseLeave, &TForm1::LFYMouseLeave, &TForm1::LFPMouseLeave};
    const int k = part.toInt();
    if (k >= 0 && k < 12)
        (this->*(type == QEvent::Enter ? enter : leave)[k])(watched);
}
