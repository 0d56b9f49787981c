// The shapes on their own: where an arc and a leader line really land, which
// points take the pointer, and how the scaled layout places its children.

#include "Shapes.h"
#include "ScaledLayout.h"

#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const QColor Red = QColor::fromRgba(0xFFFF0000u);
const QColor Purple = QColor::fromRgba(0xFF800080u);

bool IsRed(QRgb pixel) {
    return qRed(pixel) > 180 && qGreen(pixel) < 80 && qBlue(pixel) < 80;
}

// Point at a clockwise angle from 3 o'clock on a circle, screen y down.
QPoint OnCircle(QPointF centre, qreal radius, qreal degrees) {
    const qreal a = degrees * M_PI / 180.0;
    return (centre + radius * QPointF(std::cos(a), std::sin(a))).toPoint();
}

// A black host that draws the shape at scale 1, so design units are pixels.
QImage Render(QWidget& host) {
    host.setAutoFillBackground(true);
    QPalette palette = host.palette();
    palette.setColor(QPalette::Window, Qt::black);
    host.setPalette(palette);
    return host.grab().toImage();
}

void ShowAndWait(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

// ---- arcs

struct ArcCase {
    float start;
    float sweep;
    std::vector<qreal> paintedAt; // angles on the arc
    std::vector<qreal> emptyAt;   // angles well off it, caps included
};

class ArcAngles : public testing::TestWithParam<ArcCase> {};

TEST_P(ArcAngles, PaintsOnlyBetweenStartAndStartPlusSweepClockwise) {
    const ArcCase& c = GetParam();
    QWidget host;
    host.resize(120, 120);
    TArc arc(&host);
    arc.setStrokeColor(Red);
    arc.setStrokeThickness(10);
    arc.setBox(10, 10, 100, 100);
    arc.setStartAngle(c.start);
    arc.setSweep(c.sweep);
    const QImage image = Render(host);

    const QPointF centre(60, 60);
    const qreal radius = (100 - 10) / 2.0; // inscribed circle inset by half the stroke
    ASSERT_DOUBLE_EQ(arc.radius(), radius);
    for (qreal a : c.paintedAt)
        EXPECT_TRUE(IsRed(image.pixel(OnCircle(centre, radius, a)))) << "angle " << a;
    for (qreal a : c.emptyAt)
        EXPECT_FALSE(IsRed(image.pixel(OnCircle(centre, radius, a)))) << "angle " << a;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArcAngles,
    testing::Values(
        // Negative sweeps run counter-clockwise on screen: 90 -> 80 lies towards 3 o'clock.
        ArcCase{90, -10, {82, 85, 88}, {105, 110, 65, 0, 180, 270}},
        ArcCase{90, 10, {92, 95, 98}, {75, 70, 115, 0, 180, 270}},
        ArcCase{0, 180, {10, 45, 90, 135, 170}, {200, 225, 270, 315, 340}},
        ArcCase{0, -90, {290, 315, 340}, {30, 45, 90, 180, 250}},
        ArcCase{180, -180, {170, 135, 90, 45, 10}, {200, 270, 340}},
        ArcCase{225, -180, {215, 135, 90, 55}, {300, 315, 0, 20}}));

TEST(Arc, StrokeLiesOnTheInscribedRadius) {
    QWidget host;
    host.resize(120, 120);
    TArc arc(&host);
    arc.setStrokeColor(Red);
    arc.setStrokeThickness(10);
    arc.setBox(10, 10, 100, 100);
    arc.setStartAngle(90);
    arc.setSweep(-10);
    const QImage image = Render(host);
    const QPointF centre(60, 60);
    // The band runs from radius 40 to 50 just below the centre.
    EXPECT_TRUE(IsRed(image.pixel(OnCircle(centre, 42, 85))));
    EXPECT_TRUE(IsRed(image.pixel(OnCircle(centre, 48, 85))));
    EXPECT_FALSE(IsRed(image.pixel(OnCircle(centre, 36, 85))));
    EXPECT_FALSE(IsRed(image.pixel(OnCircle(centre, 54, 85))));
    EXPECT_FALSE(IsRed(image.pixel(centre.toPoint())));
}

TEST(Arc, ThicknessMovesTheStrokeInward) {
    TArc arc;
    arc.setBox(0, 0, 60, 60);
    arc.setStrokeThickness(10);
    EXPECT_DOUBLE_EQ(arc.radius(), 25);
    arc.setStrokeThickness(25);
    EXPECT_DOUBLE_EQ(arc.radius(), 17.5);
}

// ---- leader lines

struct LineCase {
    qreal x, y, length, rotation;
    QPointF p1, p2;
};

class LineEnds : public testing::TestWithParam<LineCase> {};

TEST_P(LineEnds, AreTheRotatedDiagonalOfALengthByThreeBox) {
    const LineCase& c = GetParam();
    TLine line;
    line.setLine(c.x, c.y, c.length, c.rotation);
    EXPECT_NEAR(line.p1().x(), c.p1.x(), 1e-3);
    EXPECT_NEAR(line.p1().y(), c.p1.y(), 1e-3);
    EXPECT_NEAR(line.p2().x(), c.p2.x(), 1e-3);
    EXPECT_NEAR(line.p2().y(), c.p2.y(), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineEnds,
    testing::Values(
        // Unrotated: top-left to bottom-right of the box.
        LineCase{-12, 220, 157, 0, {-12, 220}, {145, 223}},
        // 45 degrees clockwise about the centre (213, 53.5): down and to the right.
        LineCase{198, 52, 30, 45, {203.4541, 41.8327}, {222.5459, 65.1673}},
        // 90 degrees: upright, running downwards.
        LineCase{19, 283, 14, 90, {27.5, 277.5}, {24.5, 291.5}},
        // 315 degrees: up and to the right.
        LineCase{400, 170, 58, 315, {407.4332, 190.9454}, {450.5668, 152.0546}}));

TEST(Line, WidgetCoversTheRotatedSegment) {
    QWidget host;
    host.resize(300, 300);
    TLine line(&host);
    line.setStrokeThickness(3);
    line.setLine(100, 100, 100, 45);
    EXPECT_TRUE(line.geometry().contains(line.p1().toPoint()));
    EXPECT_TRUE(line.geometry().contains(line.p2().toPoint()));
    // A 45-degree segment's box, not the unrotated 100 x 3 box.
    EXPECT_GT(line.height(), 70);
}

// ---- pointer: the mask takes it only on the stroke

struct PointerCase {
    const char* what;
    std::function<std::unique_ptr<TShape>(QWidget*)> make;
    QPoint point;
    bool shapeTakesIt;
};

std::unique_ptr<TShape> RingAt50(QWidget* parent) {
    auto circle = std::make_unique<TCircle>(parent);
    circle->setStrokeColor(Purple);
    circle->setStrokeThickness(3);
    circle->setDashed(true);
    circle->setBox(50, 50, 100, 100); // stroke centred on radius 48.5 about (100, 100)
    return circle;
}

std::unique_ptr<TShape> FilledAt50(QWidget* parent) {
    auto circle = std::make_unique<TCircle>(parent);
    circle->setStrokeThickness(0);
    circle->setFillColor(Qt::white);
    circle->setBox(50, 50, 100, 100);
    return circle;
}

std::unique_ptr<TShape> LineAcross(QWidget* parent) {
    auto line = std::make_unique<TLine>(parent);
    line->setStrokeColor(Purple);
    line->setStrokeThickness(3);
    line->setDashed(true);
    line->setLine(40, 100, 120, 45);
    return line;
}

std::unique_ptr<TShape> ArcBelow(QWidget* parent) {
    auto arc = std::make_unique<TArc>(parent);
    arc->setStrokeColor(Red);
    arc->setStrokeThickness(10);
    arc->setBox(50, 50, 100, 100);
    arc->setStartAngle(0);
    arc->setSweep(180);
    return arc;
}

std::unique_ptr<TShape> LabelOver(QWidget* parent) {
    auto label = std::make_unique<TShapeLabel>(parent);
    label->setText("1");
    label->setBox(50, 50, 100, 100);
    return label;
}

class PointerThroughMask : public testing::TestWithParam<PointerCase> {};

TEST_P(PointerThroughMask, OnlyTheStrokeOrFillTakesAClick) {
    const PointerCase& c = GetParam();
    QWidget window;
    window.resize(200, 200);
    QPushButton under(&window);
    under.setGeometry(0, 0, 200, 200);
    const std::unique_ptr<TShape> shape = c.make(&window);
    ASSERT_TRUE(shape->geometry().contains(c.point)) << "a point inside the shape's box";
    ShowAndWait(window);

    QSignalSpy clicked(&under, &QPushButton::clicked);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, c.point);
    EXPECT_EQ(clicked.count(), c.shapeTakesIt ? 0 : 1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PointerThroughMask,
    testing::Values(PointerCase{"ring, centre", RingAt50, {100, 100}, false},
                    PointerCase{"ring, box corner", RingAt50, {53, 53}, false},
                    PointerCase{"ring, on the stroke at the top", RingAt50, {100, 52}, true},
                    PointerCase{"ring, on a gap between dashes", RingAt50, {52, 100}, true},
                    PointerCase{"filled circle, centre", FilledAt50, {100, 100}, true},
                    PointerCase{"filled circle, box corner", FilledAt50, {52, 52}, false},
                    PointerCase{"line, on it", LineAcross, {100, 101}, true},
                    PointerCase{"line, 10 px beside it", LineAcross, {107, 94}, false},
                    PointerCase{"arc, on it below the centre", ArcBelow, {100, 145}, true},
                    PointerCase{"arc, centre of its circle", ArcBelow, {100, 100}, false},
                    PointerCase{"label, on its text", LabelOver, {100, 100}, false}),
    [](const testing::TestParamInfo<PointerCase>& info) {
        return "case" + std::to_string(info.index);
    });

TEST(Hover, EnterOnTheStrokeAndLeaveOffIt) {
    QWidget window;
    window.resize(200, 200);
    QWidget under(&window);
    under.setGeometry(0, 0, 200, 200);
    const std::unique_ptr<TShape> ring = RingAt50(&window);
    ShowAndWait(window);
    QSignalSpy entered(ring.get(), &TShape::MouseEnter);
    QSignalSpy left(ring.get(), &TShape::MouseLeave);

    QTest::mouseMove(window.windowHandle(), {10, 10});
    QTest::mouseMove(window.windowHandle(), {100, 100}); // inside the ring, off the stroke
    EXPECT_EQ(entered.count(), 0);
    QTest::mouseMove(window.windowHandle(), {100, 52});
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(left.count(), 0);
    QTest::mouseMove(window.windowHandle(), {100, 51}); // still on it
    EXPECT_EQ(entered.count(), 1);
    QTest::mouseMove(window.windowHandle(), {100, 100});
    EXPECT_EQ(left.count(), 1);
}

TEST(Hover, FollowsTheArcWhenItMoves) {
    QWidget window;
    window.resize(200, 200);
    const std::unique_ptr<TShape> shape = ArcBelow(&window);
    auto* arc = static_cast<TArc*>(shape.get());
    ShowAndWait(window);
    QSignalSpy entered(arc, &TShape::MouseEnter);

    arc->setStartAngle(180); // now the upper half
    QTest::mouseMove(window.windowHandle(), {100, 145});
    EXPECT_EQ(entered.count(), 0);
    QTest::mouseMove(window.windowHandle(), {100, 55});
    EXPECT_EQ(entered.count(), 1);
}

// A window built hidden and changed while hidden: each shape's mask is made
// when it shows, where the shape then is.
TEST(Hover, FollowsAnArcMovedWhileItsWindowWasHidden) {
    QWidget window;
    window.resize(200, 200);
    const std::unique_ptr<TShape> shape = ArcBelow(&window);
    auto* arc = static_cast<TArc*>(shape.get());
    ShowAndWait(window);
    window.hide();
    arc->setStartAngle(180); // now the upper half
    ShowAndWait(window);
    QSignalSpy entered(arc, &TShape::MouseEnter);
    QTest::mouseMove(window.windowHandle(), {100, 145});
    EXPECT_EQ(entered.count(), 0);
    QTest::mouseMove(window.windowHandle(), {100, 55});
    EXPECT_EQ(entered.count(), 1);
}

TEST(Pointer, AShapeThatTakesNoPointerKeepsNoMaskWhereverItMoves) {
    QWidget window;
    window.resize(200, 200);
    const std::unique_ptr<TShape> shape = ArcBelow(&window);
    auto* arc = static_cast<TArc*>(shape.get());
    ShowAndWait(window);
    ASSERT_FALSE(arc->mask().isEmpty());
    arc->setPointerEnabled(false);
    QSignalSpy entered(arc, &TShape::MouseEnter);
    for (float start : {180.0f, 30.0f, 0.0f}) {
        arc->setStartAngle(start);
        EXPECT_TRUE(arc->mask().isEmpty()) << start;
        EXPECT_TRUE(arc->testAttribute(Qt::WA_TransparentForMouseEvents)) << start;
    }
    QTest::mouseMove(window.windowHandle(), {10, 10});
    QTest::mouseMove(window.windowHandle(), {100, 145}); // on its stroke
    EXPECT_EQ(entered.count(), 0);
    // On again: the mask follows the arc as before.
    arc->setPointerEnabled(true);
    EXPECT_TRUE(arc->mask().contains(arc->mapFrom(&window, QPoint(100, 145))));
}

// ---- colours and outline

TEST(Outline, IsTheStrokeOfAShapeAndTheTextOfALabel) {
    TCircle circle;
    TShapeLabel label;
    circle.setOutlineColor(Red);
    label.setOutlineColor(Red);
    EXPECT_EQ(circle.strokeColor(), Red);
    EXPECT_EQ(label.fontColor(), Red);
    EXPECT_EQ(label.outlineColor(), Red);
}

TEST(Outline, NewColourIsPainted) {
    QWidget host;
    host.resize(100, 100);
    TCircle circle(&host);
    circle.setStrokeThickness(6);
    circle.setStrokeColor(Purple);
    circle.setBox(0, 0, 100, 100);
    EXPECT_FALSE(IsRed(Render(host).pixel(50, 3)));
    circle.setStrokeColor(Red);
    EXPECT_TRUE(IsRed(Render(host).pixel(50, 3)));
}

// ---- scaled layout

TEST(ScaledLayout, MapsDesignUnitsToItsSize) {
    TScaledLayout layout(nullptr, {636, 482});
    TCircle* circle = new TCircle(&layout);
    circle->setStrokeThickness(3);
    circle->setBox(100, 50, 20, 20);
    layout.addShape(circle);
    QWidget* plain = new QWidget;
    layout.addWidget(plain, {10, 20, 30, 40});
    EXPECT_TRUE(circle->geometry().contains(QRect(100, 50, 20, 20)));
    EXPECT_EQ(plain->geometry(), QRect(10, 20, 30, 40));

    ShowAndWait(layout);
    layout.resize(1272, 241); // twice as wide, half as high
    EXPECT_DOUBLE_EQ(layout.scaleX(), 2.0);
    EXPECT_DOUBLE_EQ(layout.scaleY(), 0.5);
    EXPECT_EQ(plain->geometry(), QRect(20, 10, 60, 20));
    EXPECT_TRUE(circle->geometry().contains(QRect(200, 25, 40, 10)));
    EXPECT_LT(circle->geometry().height(), 30);
}

TEST(ScaledLayout, ShapeHostedAboveFollowsTheLayoutsPlace) {
    QWidget top;
    top.resize(400, 300);
    QWidget middle(&top);
    middle.setGeometry(50, 30, 300, 200);
    TScaledLayout* layout = new TScaledLayout(&middle, {100, 100});
    layout->setGeometry(10, 5, 100, 100);
    TLine* line = new TLine(&top); // hosted by the top widget, placed in design units
    line->setStrokeThickness(3);
    line->setLine(-20, 40, 50, 0);
    layout->addShape(line);
    ShowAndWait(top);

    const QRect before = line->geometry();
    EXPECT_TRUE(before.contains(QPoint(60 + -20, 35 + 40)));
    middle.move(70, 60);
    EXPECT_EQ(line->geometry(), before.translated(20, 30));
}

} // namespace
