// The built picture against its layout tables: every shape's name, host,
// geometry, colours and angles, the stacking, the highlight and hover lists,
// and real pointer moves onto every hover source.

#include "RobotPicture.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr QRgb Purple = 0xFF800080u;
constexpr QRgb Blue = 0xFF0000FFu;
constexpr QRgb Red = 0xFFFF0000u;
const QPoint PictureOrigin(182, 0); // the picture area's place in the top panel

// The top panel as the window builds it: the picture area in the centre and
// a panel made after the picture, as the head and waist panel is.
struct PictureWindow {
    QWidget top;
    QWidget* centre = nullptr;
    TScaledLayout* layout = nullptr;
    QWidget* panel = nullptr;
    QPushButton* panelButton = nullptr;
    RobotPicture picture;

    PictureWindow() {
        top.setObjectName("pnlTop");
        top.resize(1000, 482);
        centre = new QWidget(&top);
        centre->setGeometry(QRect(PictureOrigin, QSize(636, 482)));
        layout = new TScaledLayout(centre);
        layout->setObjectName("ScaledLayout1");
        layout->setGeometry(0, 0, 636, 482);
        picture = BuildRobotPicture(layout, &top);
        panel = new QWidget(&top);
        panel->setGeometry(180, 0, 170, 180);
        panelButton = new QPushButton(panel);
        panelButton->setGeometry(0, 0, 170, 180);
        RaiseOverlay(picture);
        top.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&top));
    }

    TShape* shape(const QString& name) const {
        const QList<TShape*> found = top.findChildren<TShape*>(name);
        return found.size() == 1 ? found.front() : nullptr;
    }
};

template <class Base> class WithPicture : public Base {
public:
    static void SetUpTestSuite() { window = std::make_unique<PictureWindow>(); }
    static void TearDownTestSuite() { window.reset(); }
    static inline std::unique_ptr<PictureWindow> window;
};

std::vector<std::string> Names(const QList<TShape*>& shapes) {
    std::vector<std::string> names;
    for (const TShape* s : shapes)
        names.push_back(s->objectName().toStdString());
    return names;
}

// ---- every shape against the tables

enum class Kind { Circle, RoundRect, Arc, Line, Label };
enum class Host {
    Picture,     // a child of the scaled layout
    TopInDesign, // hosted by the top panel, placed in design units
    TopInWindow, // hosted by the top panel, in window coordinates
};

struct Row {
    const char* name;
    Kind kind;
    Host host;
    qreal a, b, c, d; // box x, y, w, h; for lines x, y, length, rotation
    QRgb colour;      // outline: stroke, or font for labels
    float thickness;
    bool dashed;
    float start = 0;
    float sweep = 0;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

using K = Kind;
using H = Host;

const Row Rows[] = {
    // Markers.
    {"CirHDY_1", K::Circle, H::Picture, 210, 16, 190, 190, Purple, 3, true},
    {"CirWTY_1", K::RoundRect, H::Picture, 205, 250, 210, 50, Purple, 3, true},
    {"CirRSR_1", K::Circle, H::Picture, 200, 185, 65, 65, Purple, 3, true},
    {"CirRSP_1", K::Circle, H::Picture, 140, 200, 65, 65, Purple, 3, true},
    {"CirRHG_1", K::Circle, H::Picture, 95, 245, 65, 65, Purple, 3, true},
    {"CirLSR_1", K::Circle, H::Picture, 355, 185, 65, 65, Purple, 3, true},
    {"CirLSP_1", K::Circle, H::Picture, 415, 200, 65, 65, Purple, 3, true},
    {"CirLHG_1", K::Circle, H::Picture, 465, 240, 65, 65, Purple, 3, true},
    {"CirRFY_1", K::Circle, H::Picture, 215, 300, 70, 70, Purple, 3, true},
    {"CirRFP_1", K::Circle, H::Picture, 215, 370, 70, 70, Purple, 3, true},
    {"CirLFY_1", K::Circle, H::Picture, 335, 300, 70, 70, Purple, 3, true},
    {"CirLFP_1", K::Circle, H::Picture, 335, 370, 70, 70, Purple, 3, true},
    // Range arcs: centred in the marker; the waist's at 70, -20 inside it.
    {"arcHDY_Range", K::Arc, H::Picture, 215, 21, 180, 180, Blue, 5, false, 180, -180},
    {"arcWTY_Range", K::Arc, H::Picture, 275, 230, 70, 70, Blue, 5, false, 180, -180},
    {"arcRSR_Range", K::Arc, H::Picture, 205, 190, 55, 55, Blue, 5, false, 90, -180},
    {"arcRSP_Range", K::Arc, H::Picture, 145, 205, 55, 55, Blue, 5, false, 225, -180},
    {"arcRHG_Range", K::Arc, H::Picture, 100, 250, 55, 55, Blue, 5, false, 0, 180},
    {"arcLSR_Range", K::Arc, H::Picture, 360, 190, 55, 55, Blue, 5, false, 270, -180},
    {"arcLSP_Range", K::Arc, H::Picture, 420, 205, 55, 55, Blue, 5, false, 135, -180},
    {"arcLHG_Range", K::Arc, H::Picture, 470, 245, 55, 55, Blue, 5, false, 0, 180},
    {"arcRFY_Range", K::Arc, H::Picture, 220, 305, 60, 60, Blue, 5, false, 0, 180},
    {"arcRFP_Range", K::Arc, H::Picture, 220, 375, 60, 60, Blue, 5, false, 0, 180},
    {"arcLFY_Range", K::Arc, H::Picture, 340, 305, 60, 60, Blue, 5, false, 0, 180},
    {"arcLFP_Range", K::Arc, H::Picture, 340, 375, 60, 60, Blue, 5, false, 0, 180},
    // Position arcs: centred in the range arc.
    {"ArcHDY", K::Arc, H::Picture, 220, 26, 170, 170, Red, 10, false, 180, -10},
    {"ArcWTY", K::Arc, H::Picture, 280, 235, 60, 60, Red, 10, false, 180, -10},
    {"ArcRSR", K::Arc, H::Picture, 210, 195, 45, 45, Red, 10, false, 90, -10},
    {"ArcRSP", K::Arc, H::Picture, 150, 210, 45, 45, Red, 10, false, 225, -10},
    {"ArcRHG", K::Arc, H::Picture, 105, 255, 45, 45, Red, 10, false, 0, 10},
    {"ArcLSR", K::Arc, H::Picture, 365, 195, 45, 45, Red, 10, false, 270, -10},
    {"ArcLSP", K::Arc, H::Picture, 425, 210, 45, 45, Red, 10, false, 135, -10},
    {"ArcLHG", K::Arc, H::Picture, 475, 250, 45, 45, Red, 10, false, 0, 10},
    {"ArcRFY", K::Arc, H::Picture, 225, 310, 50, 50, Red, 10, false, 0, 10},
    {"ArcRFP", K::Arc, H::Picture, 225, 380, 50, 50, Red, 10, false, 0, 10},
    {"ArcLFY", K::Arc, H::Picture, 345, 310, 50, 50, Red, 10, false, 0, 10},
    {"ArcLFP", K::Arc, H::Picture, 345, 380, 50, 50, Red, 10, false, 0, 10},
    // The waist's small circles and their labels.
    {"CirWTY_3", K::Circle, H::Picture, 295, 220, 30, 30, Purple, 3, true},
    {"lblWTY_2", K::Label, H::Picture, 295, 220, 30, 30, Purple, -1, false},
    {"CirWTY_2", K::Circle, H::TopInWindow, 352, 95, 30, 30, Purple, 3, true},
    {"lblWTY_1", K::Label, H::TopInWindow, 352, 95, 30, 30, Purple, -1, false},
    // Leader lines.
    {"LinHDY_1", K::Line, H::Picture, 198, 52, 30, 45, Purple, 3, true},
    {"LinHDY_2", K::Line, H::TopInWindow, 337, 40, 48, 0, Purple, 3, true},
    {"LinWTY_1", K::Line, H::TopInWindow, 336, 109, 15, 0, Purple, 3, true},
    {"LinRSR_1", K::Line, H::TopInWindow, 170, 150, 180, 0, Purple, 3, true},
    {"LinRSR_2", K::Line, H::TopInWindow, 340, 172, 58, 45, Purple, 3, true},
    {"LinRSP_1", K::Line, H::TopInDesign, -12, 220, 157, 0, Purple, 3, true},
    {"LinRHG_1", K::Line, H::TopInDesign, -12, 288, 40, 0, Purple, 3, true},
    {"LinRHG_2", K::Line, H::Picture, 19, 283, 14, 90, Purple, 3, true},
    {"LinRHG_3", K::Line, H::Picture, 25, 275, 70, 0, Purple, 3, true},
    {"LinLSR_1", K::Line, H::TopInDesign, 448, 150, 202, 0, Purple, 3, true},
    {"LinLSR_2", K::Line, H::Picture, 400, 170, 58, 315, Purple, 3, true},
    {"LinLSP_1", K::Line, H::TopInDesign, 479, 220, 171, 0, Purple, 3, true},
    {"LinLHG_1", K::Line, H::Picture, 530, 275, 70, 0, Purple, 3, true},
    {"LinLHG_2", K::Line, H::Picture, 593, 281, 15, 90, Purple, 3, true},
    {"LinLHG_3", K::Line, H::TopInDesign, 599, 288, 51, 0, Purple, 3, true},
    {"LinRFY_1", K::Line, H::TopInDesign, -12, 371, 65, 0, Purple, 3, true},
    {"LinRFY_2", K::Line, H::Picture, 32, 353, 38, 90, Purple, 3, true},
    {"LinRFY_3", K::Line, H::Picture, 50, 335, 169, 0, Purple, 3, true},
    {"LinRFP_1", K::Line, H::TopInDesign, -12, 435, 90, 0, Purple, 3, true},
    {"LinRFP_2", K::Line, H::Picture, 60, 421, 35, 90, Purple, 3, true},
    {"LinRFP_3", K::Line, H::Picture, 80, 405, 135, 0, Purple, 3, true},
    {"LinLFY_1", K::Line, H::Picture, 405, 335, 172, 0, Purple, 3, true},
    {"LinLFY_2", K::Line, H::Picture, 559, 353, 39, 90, Purple, 3, true},
    {"LinLFY_3", K::Line, H::TopInDesign, 580, 371, 70, 0, Purple, 3, true},
    {"LinLFP_1", K::Line, H::Picture, 405, 405, 150, 0, Purple, 3, true},
    {"LinLFP_2", K::Line, H::Picture, 539, 421, 35, 90, Purple, 3, true},
    {"LinLFP_3", K::Line, H::TopInDesign, 555, 437, 97, 0, Purple, 3, true},
};

class ShapeTable : public WithPicture<testing::TestWithParam<Row>> {};

TEST_P(ShapeTable, MatchesTheLayoutTable) {
    const Row& row = GetParam();
    PictureWindow& w = *window;
    TShape* shape = w.shape(row.name);
    ASSERT_NE(shape, nullptr) << "exactly one shape named " << row.name;

    QWidget* expectedParent = row.host == Host::Picture ? static_cast<QWidget*>(w.layout) : &w.top;
    EXPECT_EQ(shape->parentWidget(), expectedParent);
    EXPECT_EQ(shape->outlineColor(), QColor::fromRgba(row.colour));
    if (row.thickness >= 0) {
        EXPECT_FLOAT_EQ(shape->strokeThickness(), row.thickness);
    }
    EXPECT_EQ(shape->isDashed(), row.dashed);
    EXPECT_FALSE(shape->isHidden());

    QRectF design;
    switch (row.kind) {
    case Kind::Circle:
        ASSERT_NE(qobject_cast<TCircle*>(shape), nullptr);
        break;
    case Kind::RoundRect:
        ASSERT_NE(qobject_cast<TRoundRect*>(shape), nullptr);
        break;
    case Kind::Label:
        ASSERT_NE(qobject_cast<TShapeLabel*>(shape), nullptr);
        EXPECT_EQ(qobject_cast<TShapeLabel*>(shape)->text(), "1");
        break;
    case Kind::Arc: {
        auto* arc = qobject_cast<TArc*>(shape);
        ASSERT_NE(arc, nullptr);
        EXPECT_FLOAT_EQ(arc->startAngle(), row.start);
        EXPECT_FLOAT_EQ(arc->sweep(), row.sweep);
        EXPECT_EQ(arc->tag(), static_cast<int>(row.start)) << "the servo's base angle";
        break;
    }
    case Kind::Line: {
        auto* line = qobject_cast<TLine*>(shape);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->origin(), QPointF(row.a, row.b));
        EXPECT_EQ(line->length(), row.c);
        EXPECT_EQ(line->rotation(), row.d);
        design = QRectF(line->p1(), line->p2()).normalized();
        break;
    }
    }
    if (row.kind != Kind::Line) {
        auto* boxed = qobject_cast<TBoxShape*>(shape);
        ASSERT_NE(boxed, nullptr);
        EXPECT_EQ(boxed->box(), QRectF(row.a, row.b, row.c, row.d));
        design = boxed->box();
    }

    // On screen: the widget covers the shape at its place, and not much more.
    // An arc covers what it draws: its ends and its middle on the stroke's circle.
    const QPointF offset = row.host == Host::TopInDesign ? QPointF(PictureOrigin) : QPointF();
    const QRectF expected = design.translated(offset);
    const QRectF actual(shape->geometry());
    if (row.kind == Kind::Arc) {
        const qreal radius = (row.c - row.thickness) / 2;
        for (float a : {row.start, row.start + row.sweep / 2, row.start + row.sweep}) {
            const qreal rad = a * M_PI / 180;
            const QPointF on = expected.center() + radius * QPointF(std::cos(rad), std::sin(rad));
            EXPECT_TRUE(actual.contains(on)) << "angle " << a;
        }
    } else {
        EXPECT_TRUE(actual.contains(expected)) << "widget at " << actual.x() << "," << actual.y();
    }
    EXPECT_TRUE(expected.adjusted(-16, -16, 16, 16).contains(actual));
}

INSTANTIATE_TEST_SUITE_P(Table, ShapeTable, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

// ---- the rest of the picture

class Picture : public WithPicture<testing::Test> {};

TEST_F(Picture, EveryShapeIsInTheTable) {
    std::set<std::string> expected;
    for (const Row& row : Rows)
        expected.insert(row.name);
    expected.insert("CirRightEye");
    expected.insert("CirLeftEye");
    std::set<std::string> built;
    for (const TShape* s : window->top.findChildren<TShape*>())
        built.insert(s->objectName().toStdString());
    EXPECT_EQ(built, expected);
}

TEST_F(Picture, EyesAreWhiteFilledCirclesWithoutOutline) {
    const RobotPicture& p = window->picture;
    for (auto [eye, x] : {std::pair{p.CirRightEye, 258}, std::pair{p.CirLeftEye, 303}}) {
        ASSERT_NE(eye, nullptr);
        EXPECT_EQ(eye->parentWidget(), window->layout);
        EXPECT_EQ(eye->box(), QRectF(x, 150, 20, 20));
        EXPECT_EQ(eye->fillColor(), QColor(Qt::white));
        EXPECT_EQ(eye->strokeThickness(), 0);
    }
    EXPECT_EQ(p.CirRightEye->objectName(), "CirRightEye");
    EXPECT_EQ(p.CirLeftEye->objectName(), "CirLeftEye");
}

TEST_F(Picture, ArtworkFillsTheHeightAndIsCentred) {
    const TImage* image = window->picture.Image1;
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->objectName(), "Image1");
    EXPECT_EQ(image->parentWidget(), window->layout);
    ASSERT_FALSE(image->isNull());
    EXPECT_EQ(image->geometry(), QRect(0, 0, 636, 482));
    const QRectF art = image->pictureRect();
    EXPECT_NEAR(art.height(), 482, 0.01);
    EXPECT_NEAR(art.width(), 482.0 * 3384 / 3660, 0.01); // about 446
    EXPECT_NEAR(art.x(), 95.2, 0.1);
}

TEST_F(Picture, ArraysAreByServoIndex) {
    const char* names[] = {"HDY", "WTY", "RSR", "RSP", "RHG", "LSR",
                           "LSP", "LHG", "RFY", "RFP", "LFY", "LFP"};
    const RobotPicture& p = window->picture;
    for (int k = 0; k < PictureServoCount; ++k) {
        const QString n = QString::fromLatin1(names[k]);
        EXPECT_EQ(p.markers[k]->objectName(), "Cir" + n + "_1");
        EXPECT_EQ(p.rangeArcs[k]->objectName(), "arc" + n + "_Range");
        EXPECT_EQ(p.positionArcs[k]->objectName(), "Arc" + n);
        for (const TLine* line : p.lines[k])
            EXPECT_TRUE(line->objectName().startsWith("Lin" + n + "_"));
    }
}

TEST_F(Picture, StacksImageOutlinesRangeArcsPositionArcsEyes) {
    const RobotPicture& p = window->picture;
    const QObjectList& z = window->layout->children(); // bottom to top
    auto at = [&z](const QObject* o) { return z.indexOf(const_cast<QObject*>(o)); };
    qsizetype lastOutline = -1;
    for (QObject* child : z) {
        auto* shape = qobject_cast<TShape*>(child);
        if (shape != nullptr && !qobject_cast<TArc*>(shape) && shape != p.CirRightEye &&
            shape != p.CirLeftEye)
            lastOutline = std::max(lastOutline, at(shape));
    }
    EXPECT_EQ(at(p.Image1), 0);
    for (int k = 0; k < PictureServoCount; ++k) {
        EXPECT_GT(at(p.markers[k]), at(p.Image1));
        EXPECT_GT(at(p.rangeArcs[k]), lastOutline);
        for (int j = 0; j < PictureServoCount; ++j)
            EXPECT_GT(at(p.positionArcs[k]), at(p.rangeArcs[j]));
        EXPECT_GT(at(p.CirRightEye), at(p.positionArcs[k]));
        EXPECT_GT(at(p.CirLeftEye), at(p.positionArcs[k]));
    }
    EXPECT_GT(at(p.lblWTY_2), at(p.CirWTY_3));
}

TEST_F(Picture, OverlayIsAboveThePanelsBuiltAfterIt) {
    const RobotPicture& p = window->picture;
    const QObjectList& z = window->top.children();
    const qsizetype panel = z.indexOf(window->panel);
    EXPECT_EQ(p.overlay.size(), 6 + 9);
    for (TShape* shape : p.overlay) {
        EXPECT_EQ(shape->parentWidget(), &window->top);
        EXPECT_GT(z.indexOf(shape), panel) << shape->objectName().toStdString();
    }
    EXPECT_GT(z.indexOf(p.lblWTY_1), z.indexOf(p.CirWTY_2));
}

TEST_F(Picture, HighlightListsFollowTheRecolouringOrder) {
    const std::vector<std::vector<std::string>> expected = {
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
    };
    for (int k = 0; k < PictureServoCount; ++k)
        EXPECT_EQ(Names(window->picture.highlight[k]), expected[k]) << "part " << k;
}

TEST_F(Picture, RecolouringTheWaistPaintsShapesAndLabelsButNoArc) {
    const RobotPicture& p = window->picture;
    const QColor red = QColor::fromRgba(Red);
    const QColor purple = QColor::fromRgba(Purple);
    for (TShape* shape : p.highlight[1])
        shape->setOutlineColor(red);
    EXPECT_EQ(p.lblWTY_1->fontColor(), red);
    EXPECT_EQ(p.lblWTY_2->fontColor(), red);
    EXPECT_EQ(p.CirWTY_2->strokeColor(), red);
    EXPECT_EQ(p.markers[1]->strokeColor(), red);
    EXPECT_EQ(p.rangeArcs[1]->strokeColor(), QColor::fromRgba(Blue));
    EXPECT_EQ(p.markers[0]->strokeColor(), purple);
    for (TShape* shape : p.highlight[1])
        shape->setOutlineColor(purple);
    EXPECT_EQ(p.lblWTY_1->fontColor(), purple);
}

// ---- real pointer moves

class HoverSources : public WithPicture<testing::TestWithParam<int>> {};

// A pixel of the shape that the pointer really reaches (nothing above it).
std::optional<QPoint> Reachable(QWidget& top, TShape* shape) {
    for (const QRect& r : shape->mask()) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QPoint inTop = shape->mapTo(&top, QPoint(x, y));
                if (top.childAt(inTop) == shape)
                    return inTop;
            }
        }
    }
    return std::nullopt;
}

TEST_P(HoverSources, ListsTheMarkerArcsAndLeaderLines) {
    const int k = GetParam();
    const RobotPicture& p = window->picture;
    std::set<std::string> expected = {p.markers[k]->objectName().toStdString(),
                                      p.rangeArcs[k]->objectName().toStdString(),
                                      p.positionArcs[k]->objectName().toStdString()};
    for (const TLine* line : p.lines[k])
        expected.insert(line->objectName().toStdString());
    if (k == 1)
        expected.insert("CirWTY_2");
    const std::vector<std::string> names = Names(p.hoverSources[k]);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
    EXPECT_EQ(names.size(), expected.size());
}

TEST_P(HoverSources, PointerEntersAndLeavesEachOfThem) {
    const int k = GetParam();
    QWidget& top = window->top;
    const QPoint nowhere(5, 470); // left of the picture, under no shape
    ASSERT_EQ(top.childAt(nowhere), nullptr);
    for (TShape* shape : window->picture.hoverSources[k]) {
        const std::string name = shape->objectName().toStdString();
        const std::optional<QPoint> on = Reachable(top, shape);
        ASSERT_TRUE(on.has_value()) << name << " is covered everywhere";
        QTest::mouseMove(top.windowHandle(), nowhere);
        QSignalSpy entered(shape, &TShape::MouseEnter);
        QSignalSpy left(shape, &TShape::MouseLeave);
        QTest::mouseMove(top.windowHandle(), *on);
        EXPECT_EQ(entered.count(), 1) << name;
        QTest::mouseMove(top.windowHandle(), nowhere);
        EXPECT_EQ(left.count(), 1) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, HoverSources, testing::Range(0, PictureServoCount));

TEST_F(Picture, HeadLineOverAPanelTakesThePointerAndLetsClicksBesideItThrough) {
    TShape* line = window->picture.highlight[0][2]; // LinHDY_2
    QWidget& top = window->top;
    const QPoint onLine(345, 41); // window coordinates, over the panel
    ASSERT_TRUE(window->panel->geometry().contains(onLine));
    EXPECT_EQ(top.childAt(onLine), line);

    const QPoint beside(345, line->geometry().top());
    ASSERT_FALSE(line->mask().contains(line->mapFrom(&top, beside)));
    QSignalSpy clicked(window->panelButton, &QPushButton::clicked);
    QTest::mouseClick(top.windowHandle(), Qt::LeftButton, {}, beside);
    EXPECT_EQ(clicked.count(), 1);
    QTest::mouseClick(top.windowHandle(), Qt::LeftButton, {}, onLine);
    EXPECT_EQ(clicked.count(), 1);
}

} // namespace
