#pragma once
// The robot picture in the centre of the window: the artwork and, over it,
// the eye circles, one dashed marker per servo with its range arc (blue) and
// position arc (red), the waist's two "1" circles and the leader lines that
// run from the servo groups to the markers.

#include "Image.h"
#include "ScaledLayout.h"
#include "Shapes.h"

#include <QColor>
#include <QList>
#include <array>

inline constexpr int PictureServoCount = 12;

// Colours of the overlay (ARGB).
inline const QColor PictureOutlineColor = QColor::fromRgba(0xFF800080u);
inline const QColor PictureHighlightColor = QColor::fromRgba(0xFFFF0000u);
inline const QColor PictureRangeArcColor = QColor::fromRgba(0xFF0000FFu);
inline const QColor PicturePositionArcColor = QColor::fromRgba(0xFFFF0000u);

struct RobotPicture {
    TScaledLayout* layout = nullptr;
    TImage* Image1 = nullptr;

    // By servo index: HDY, WTY, RSR, RSP, RHG, LSR, LSP, LHG, RFY, RFP, LFY, LFP.
    std::array<TShape*, PictureServoCount> markers{};    // CirHDY_1 .. (CirWTY_1 a TRoundRect)
    std::array<TArc*, PictureServoCount> rangeArcs{};    // arcHDY_Range ..
    std::array<TArc*, PictureServoCount> positionArcs{}; // ArcHDY ..
    std::array<QList<TLine*>, PictureServoCount> lines{};

    // The part's outline, in the order it is recoloured; each entry takes the
    // colour through setOutlineColor (the two waist labels as font colour).
    std::array<QList<TShape*>, PictureServoCount> highlight{};
    // Shapes whose pointer enter and leave highlight the part: marker, both
    // arcs, the leader lines, and for the waist CirWTY_2.
    std::array<QList<TShape*>, PictureServoCount> hoverSources{};

    TCircle* CirRightEye = nullptr;
    TCircle* CirLeftEye = nullptr;
    TCircle* CirWTY_2 = nullptr; // window coordinates, next to the waist group
    TCircle* CirWTY_3 = nullptr; // on the waist marker
    TShapeLabel* lblWTY_1 = nullptr;
    TShapeLabel* lblWTY_2 = nullptr;

    // Shapes hosted by the top panel, bottom to top: the five placed in
    // window coordinates with CirWTY_2's label, and the leader lines that
    // reach beyond the picture into the side columns.
    QList<TShape*> overlay;
};

// Whether the picture's shapes take the pointer (hover highlights a part) or
// only show.
enum class PicturePointer { Hover, None };

// Builds Image1 and every shape. The picture's own shapes go into layout,
// stacked image, markers and lines, range arcs, position arcs, eyes; the
// overlay goes into topPanel, which must be an ancestor of layout.
RobotPicture BuildRobotPicture(TScaledLayout* layout, QWidget* topPanel,
                               PicturePointer use = PicturePointer::Hover);

// Places the overlay again and raises it above the top panel's other
// children; call once the window has built its own panels.
void RaiseOverlay(const RobotPicture& picture);
