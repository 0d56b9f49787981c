#include "RobotPicture.h"

#include <QFont>
#include <QHash>
#include <optional>

namespace {

struct ServoLayout {
    const char* name;
    QRectF marker;
    qreal rangeSize;
    std::optional<QPointF> rangeAt; // inside the marker; centred when empty
    qreal positionSize;
    float start;
    float rangeSweep;
    float positionSweep;
};

// Design units of the 636 x 482 picture area. The start angles are the
// servos' base angles, which the arcs also carry as their tags.
const std::array<ServoLayout, PictureServoCount> Servos = {{
    {"HDY", {210, 16, 190, 190}, 180, {}, 170, 180, -180, -10},
    {"WTY", {205, 250, 210, 50}, 70, QPointF(70, -20), 60, 180, -180, -10},
    {"RSR", {200, 185, 65, 65}, 55, {}, 45, 90, -180, -10},
    {"RSP", {140, 200, 65, 65}, 55, {}, 45, 225, -180, -10},
    {"RHG", {95, 245, 65, 65}, 55, {}, 45, 0, 180, 10},
    {"LSR", {355, 185, 65, 65}, 55, {}, 45, 270, -180, -10},
    {"LSP", {415, 200, 65, 65}, 55, {}, 45, 135, -180, -10},
    {"LHG", {465, 240, 65, 65}, 55, {}, 45, 0, 180, 10},
    {"RFY", {215, 300, 70, 70}, 60, {}, 50, 0, 180, 10},
    {"RFP", {215, 370, 70, 70}, 60, {}, 50, 0, 180, 10},
    {"LFY", {335, 300, 70, 70}, 60, {}, 50, 0, 180, 10},
    {"LFP", {335, 370, 70, 70}, 60, {}, 50, 0, 180, 10},
}};

enum Servo { HDY, WTY, RSR, RSP, RHG, LSR, LSP, LHG, RFY, RFP, LFY, LFP };

struct LineLayout {
    const char* name;
    int part;
    qreal x, y, length, rotation;
    bool window; // in the top panel's coordinates rather than the picture's
};

const LineLayout Lines[] = {
    {"LinHDY_1", HDY, 198, 52, 30, 45, false},   {"LinHDY_2", HDY, 337, 40, 48, 0, true},
    {"LinWTY_1", WTY, 336, 109, 15, 0, true},    {"LinRSR_1", RSR, 170, 150, 180, 0, true},
    {"LinRSR_2", RSR, 340, 172, 58, 45, true},   {"LinRSP_1", RSP, -12, 220, 157, 0, false},
    {"LinRHG_1", RHG, -12, 288, 40, 0, false},   {"LinRHG_2", RHG, 19, 283, 14, 90, false},
    {"LinRHG_3", RHG, 25, 275, 70, 0, false},    {"LinLSR_1", LSR, 448, 150, 202, 0, false},
    {"LinLSR_2", LSR, 400, 170, 58, 315, false}, {"LinLSP_1", LSP, 479, 220, 171, 0, false},
    {"LinLHG_1", LHG, 530, 275, 70, 0, false},   {"LinLHG_2", LHG, 593, 281, 15, 90, false},
    {"LinLHG_3", LHG, 599, 288, 51, 0, false},   {"LinRFY_1", RFY, -12, 371, 65, 0, false},
    {"LinRFY_2", RFY, 32, 353, 38, 90, false},   {"LinRFY_3", RFY, 50, 335, 169, 0, false},
    {"LinRFP_1", RFP, -12, 435, 90, 0, false},   {"LinRFP_2", RFP, 60, 421, 35, 90, false},
    {"LinRFP_3", RFP, 80, 405, 135, 0, false},   {"LinLFY_1", LFY, 405, 335, 172, 0, false},
    {"LinLFY_2", LFY, 559, 353, 39, 90, false},  {"LinLFY_3", LFY, 580, 371, 70, 0, false},
    {"LinLFP_1", LFP, 405, 405, 150, 0, false},  {"LinLFP_2", LFP, 539, 421, 35, 90, false},
    {"LinLFP_3", LFP, 555, 437, 97, 0, false},
};

// The outline of each part, in the order it is recoloured.
const std::array<QList<const char*>, PictureServoCount> HighlightOrder = {{
    {"LinHDY_1", "CirHDY_1", "LinHDY_2"},
    {"LinWTY_1", "CirWTY_1", "lblWTY_1", "CirWTY_2", "lblWTY_2", "CirWTY_3"},
    {"LinRSR_1", "CirRSR_1", "LinRSR_2"},
    {"LinRSP_1", "CirRSP_1"},
    {"CirRHG_1", "LinRHG_1", "LinRHG_2", "LinRHG_3"},
    {"LinLSR_1", "CirLSR_1", "LinLSR_2"},
    {"LinLSP_1", "CirLSP_1"},
    {"CirLHG_1", "LinLHG_1", "LinLHG_2", "LinLHG_3"},
    {"CirRFY_1", "LinRFY_1", "LinRFY_2", "LinRFY_3"},
    {"CirRFP_1", "LinRFP_1", "LinRFP_2", "LinRFP_3"},
    {"CirLFY_1", "LinLFY_1", "LinLFY_2", "LinLFY_3"},
    {"CirLFP_1", "LinLFP_1", "LinLFP_2", "LinLFP_3"},
}};

constexpr float OutlineThickness = 3;
constexpr float RangeArcThickness = 5;
constexpr float PositionArcThickness = 10;

template <class Shape> Shape* NewShape(QWidget* parent, const QString& name, bool pointer) {
    auto* shape = new Shape(parent);
    shape->setObjectName(name);
    // Before any geometry: a picture without hover builds no mask at all.
    shape->setPointerEnabled(pointer);
    return shape;
}

void MakeOutline(TShape* shape) {
    shape->setStrokeColor(PictureOutlineColor);
    shape->setStrokeThickness(OutlineThickness);
    shape->setDashed(true);
    shape->setFillColor(Qt::transparent);
}

TArc* NewArc(QWidget* parent, const QString& name, bool pointer, const QRectF& box, float thickness,
             const QColor& color, float start, float sweep) {
    auto* arc = NewShape<TArc>(parent, name, pointer);
    arc->setStrokeColor(color);
    arc->setStrokeThickness(thickness);
    arc->setBox(box);
    arc->setStartAngle(start);
    arc->setSweep(sweep);
    arc->setTag(static_cast<int>(start));
    return arc;
}

QRectF Centred(const QRectF& outer, qreal size) {
    return {outer.center().x() - size / 2, outer.center().y() - size / 2, size, size};
}

TShapeLabel* NewOneLabel(QWidget* parent, const QString& name, const QRectF& box) {
    auto* label = NewShape<TShapeLabel>(parent, name, false);
    QFont font = label->font();
    font.setPixelSize(16);
    font.setBold(true);
    label->setFont(font);
    label->setFontColor(PictureOutlineColor);
    label->setText(QStringLiteral("1"));
    label->setBox(box);
    return label;
}

TCircle* NewSmallCircle(QWidget* parent, const QString& name, bool pointer, const QRectF& box) {
    auto* circle = NewShape<TCircle>(parent, name, pointer);
    MakeOutline(circle);
    circle->setBox(box);
    return circle;
}

bool ReachesBeyond(const TLine* line, const QSizeF& area) {
    const QRectF inside(QPointF(0, 0), area);
    return !inside.contains(line->p1()) || !inside.contains(line->p2());
}

} // namespace

RobotPicture BuildRobotPicture(TScaledLayout* layout, QWidget* topPanel, PicturePointer use) {
    Q_ASSERT(topPanel->isAncestorOf(layout));
    const bool pointer = use == PicturePointer::Hover;
    RobotPicture picture;
    picture.layout = layout;
    QHash<QString, TShape*> byName;
    auto keep = [&byName](TShape* shape) { byName.insert(shape->objectName(), shape); };

    // Created bottom to top: siblings stack in the order they are made.
    picture.Image1 = new TImage(layout);
    picture.Image1->setObjectName(QStringLiteral("Image1"));
    picture.Image1->load(QStringLiteral(":/picture/robot"));
    layout->addWidget(picture.Image1, QRectF(QPointF(0, 0), layout->designSize()));

    for (int k = 0; k < PictureServoCount; ++k) {
        const ServoLayout& s = Servos[k];
        const QString name = QStringLiteral("Cir%1_1").arg(QLatin1String(s.name));
        TBoxShape* marker =
            k == WTY ? static_cast<TBoxShape*>(NewShape<TRoundRect>(layout, name, pointer))
                     : NewShape<TCircle>(layout, name, pointer);
        MakeOutline(marker);
        marker->setBox(s.marker);
        layout->addShape(marker);
        picture.markers[k] = marker;
        keep(marker);
    }

    const QPointF waist = Servos[WTY].marker.topLeft();
    picture.CirWTY_3 = NewSmallCircle(layout, QStringLiteral("CirWTY_3"), pointer,
                                      QRectF(waist + QPointF(90, -30), QSizeF(30, 30)));
    picture.lblWTY_2 = NewOneLabel(layout, QStringLiteral("lblWTY_2"), picture.CirWTY_3->box());
    layout->addShape(picture.CirWTY_3);
    layout->addShape(picture.lblWTY_2);
    keep(picture.CirWTY_3);
    keep(picture.lblWTY_2);

    // Lines that run into the side columns would be clipped by the picture
    // area, so they live in the top panel; the layout still places them.
    QList<TShape*> reaching;
    for (const LineLayout& l : Lines) {
        auto* line =
            NewShape<TLine>(l.window ? topPanel : layout, QString::fromLatin1(l.name), pointer);
        MakeOutline(line);
        line->setLine(l.x, l.y, l.length, l.rotation);
        if (!l.window) {
            if (ReachesBeyond(line, layout->designSize())) {
                line->setParent(topPanel);
                reaching.append(line);
            }
            layout->addShape(line);
        }
        picture.lines[l.part].append(line);
        keep(line);
    }

    for (int k = 0; k < PictureServoCount; ++k) {
        const ServoLayout& s = Servos[k];
        const QRectF box =
            s.rangeAt ? QRectF(s.marker.topLeft() + *s.rangeAt, QSizeF(s.rangeSize, s.rangeSize))
                      : Centred(s.marker, s.rangeSize);
        picture.rangeArcs[k] =
            NewArc(layout, QStringLiteral("arc%1_Range").arg(QLatin1String(s.name)), pointer, box,
                   RangeArcThickness, PictureRangeArcColor, s.start, s.rangeSweep);
        layout->addShape(picture.rangeArcs[k]);
    }
    for (int k = 0; k < PictureServoCount; ++k) {
        const ServoLayout& s = Servos[k];
        const QRectF box = Centred(picture.rangeArcs[k]->box(), s.positionSize);
        picture.positionArcs[k] =
            NewArc(layout, QStringLiteral("Arc%1").arg(QLatin1String(s.name)), pointer, box,
                   PositionArcThickness, PicturePositionArcColor, s.start, s.positionSweep);
        layout->addShape(picture.positionArcs[k]);
    }

    auto eye = [layout, pointer](const QString& name, qreal x) {
        auto* circle = NewShape<TCircle>(layout, name, pointer);
        circle->setStrokeThickness(0);
        circle->setStrokeColor(Qt::transparent);
        circle->setFillColor(Qt::white);
        circle->setBox(x, 150, 20, 20);
        layout->addShape(circle);
        return circle;
    };
    picture.CirRightEye = eye(QStringLiteral("CirRightEye"), 258);
    picture.CirLeftEye = eye(QStringLiteral("CirLeftEye"), 303);

    // The waist's second circle sits in window coordinates next to its group.
    picture.CirWTY_2 =
        NewSmallCircle(topPanel, QStringLiteral("CirWTY_2"), pointer, QRectF(352, 95, 30, 30));
    picture.lblWTY_1 = NewOneLabel(topPanel, QStringLiteral("lblWTY_1"), picture.CirWTY_2->box());
    keep(picture.CirWTY_2);
    keep(picture.lblWTY_1);

    for (const char* name : {"LinHDY_2", "LinWTY_1", "LinRSR_1", "LinRSR_2"})
        picture.overlay.append(byName.value(QString::fromLatin1(name)));
    picture.overlay.append(picture.CirWTY_2);
    picture.overlay.append(picture.lblWTY_1);
    picture.overlay.append(reaching);

    for (int k = 0; k < PictureServoCount; ++k) {
        for (const char* name : HighlightOrder[k]) {
            TShape* shape = byName.value(QString::fromLatin1(name));
            Q_ASSERT(shape != nullptr);
            picture.highlight[k].append(shape);
        }
        QList<TShape*>& hover = picture.hoverSources[k];
        hover = {picture.markers[k], picture.rangeArcs[k], picture.positionArcs[k]};
        for (TLine* line : std::as_const(picture.lines[k]))
            hover.append(line);
    }
    picture.hoverSources[WTY].append(picture.CirWTY_2);

    // Made after their parents may have been shown, so show them explicitly.
    picture.Image1->show();
    for (TShape* shape : std::as_const(byName))
        shape->show();
    picture.CirRightEye->show();
    picture.CirLeftEye->show();
    for (int k = 0; k < PictureServoCount; ++k) {
        picture.rangeArcs[k]->show();
        picture.positionArcs[k]->show();
    }
    RaiseOverlay(picture);
    return picture;
}

void RaiseOverlay(const RobotPicture& picture) {
    if (picture.layout != nullptr)
        picture.layout->relayout();
    for (TShape* shape : picture.overlay) {
        shape->raise();
        shape->show();
    }
}
