// Where the window opens. Run on an offscreen platform with three screens
// (screens.json), as nothing places a window where no window manager runs.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

QScreen* ScreenNamed(const QString& name) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}

struct PlaceCase {
    const char* screen;
    bool fits; // a screen smaller than the window keeps the title bar on it
};

class WindowPlacement : public ::testing::TestWithParam<PlaceCase> {};

} // namespace

TEST_P(WindowPlacement, OpensCentredOnItsScreen) {
    QScreen* screen = ScreenNamed(QString::fromLatin1(GetParam().screen));
    ASSERT_NE(screen, nullptr) << "the test runs on the screens of screens.json";
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    // The screen that holds the window before it is shown.
    form.move(screen->geometry().topLeft());
    form.show();
    const QRect area = screen->availableGeometry();
    const QRect frame = form.frameGeometry();
    EXPECT_EQ(form.size(), QSize(1000, 740));
    if (GetParam().fits) {
        EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1) << frame.x();
        EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1) << frame.y();
    } else {
        EXPECT_EQ(frame.topLeft(), area.topLeft());
    }
    EXPECT_EQ(form.screen(), screen);

    // Only the first show places it: a moved window comes back where it was.
    form.move(area.topLeft() + QPoint(5, 7));
    form.hide();
    form.show();
    EXPECT_EQ(form.frameGeometry().topLeft(), area.topLeft() + QPoint(5, 7));
}

INSTANTIATE_TEST_SUITE_P(Screens, WindowPlacement,
                         ::testing::Values(PlaceCase{"Large", true}, PlaceCase{"Beside", true},
                                           PlaceCase{"Small", false}),
                         [](const auto& info) { return std::string(info.param.screen); });
