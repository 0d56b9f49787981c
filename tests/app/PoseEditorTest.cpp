// The pose editor: sliders and edit boxes agree, the range grid narrows the
// servos, and the robot picture follows every change.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Splitter.h"

#include "Channels.h"
#include "IniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>

namespace {

class PoseEditor : public ::testing::Test {
protected:
    void SetUp() override {
        form.show();
        QApplication::setActiveWindow(&form);
    }

    TEditBox* Edit(int k) { return access.dim_edit()[size_t(k)]; }
    TFloatTrackBar* Slider(int k) { return access.dim_track_bar()[size_t(k)]; }
    QTableWidget* Grid() { return form.findChild<QTableWidget*>("grdRange"); }
    QString Label(const QString& name) { return form.findChild<QLabel*>(name)->text(); }

    void TypeAndEnter(int k, const QString& text) {
        TEditBox* edit = Edit(k);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    // Writes a range cell and applies it as a click on another cell does.
    void SetRange(int servo, const QString& min, const QString& max) {
        Grid()->item(servo, 1)->setText(min);
        Grid()->item(servo, 2)->setText(max);
        Grid()->setCurrentCell((servo + 1) % 12, 1);
        Grid()->setCurrentCell(servo, 1);
    }

    static float Centre(const TArc* arc) { return arc->startAngle() + arc->sweep() / 2; }

    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};

} // namespace

TEST_F(PoseEditor, TypedTextIsClampedOrKeptAsTyped) {
    TypeAndEnter(kobito::HDY, "200");
    EXPECT_EQ(Slider(kobito::HDY)->Value(), 180.0f);
    EXPECT_EQ(Edit(kobito::HDY)->Text(), "180");

    // The slider does not change, so the box keeps what was typed.
    TypeAndEnter(kobito::HDY, "abc");
    EXPECT_EQ(Slider(kobito::HDY)->Value(), 0.0f);
    EXPECT_EQ(Edit(kobito::HDY)->Text(), "0");
    TypeAndEnter(kobito::HDY, "abc");
    EXPECT_EQ(Edit(kobito::HDY)->Text(), "abc");
    TypeAndEnter(kobito::WTY, "090");
    EXPECT_EQ(Edit(kobito::WTY)->Text(), "090");
    EXPECT_EQ(Slider(kobito::WTY)->Value(), 90.0f);

    TypeAndEnter(kobito::TIM, "$1F");
    EXPECT_EQ(Slider(kobito::TIM)->Value(), 31.0f);
    TypeAndEnter(kobito::RED, "300");
    EXPECT_EQ(Edit(kobito::RED)->Text(), "255");
}

TEST_F(PoseEditor, AFractionalSliderValueSnapsToItsTruncatedInteger) {
    Slider(kobito::RSR)->SetValue(45.6f);
    EXPECT_EQ(Edit(kobito::RSR)->Text(), "45");
    EXPECT_EQ(Slider(kobito::RSR)->Value(), 45.0f);
}

TEST_F(PoseEditor, RangeCellsConvertWithDefaultsAndLabelsShowTruncatedBounds) {
    SetRange(kobito::RSR, "10.7", "");
    EXPECT_EQ(Slider(kobito::RSR)->Min(), 10.7f);
    EXPECT_EQ(Slider(kobito::RSR)->Max(), 180.0f);
    EXPECT_EQ(Label("lblRSR_MIN"), "10");
    EXPECT_EQ(Label("lblRSR_MAX"), "180");
    // RSR stood at 0: it moves to the new minimum, and so do its box and arc.
    EXPECT_EQ(Slider(kobito::RSR)->Value(), 10.7f);
    EXPECT_EQ(Edit(kobito::RSR)->Text(), "10");
    const TArc* range = access.dim_arc_range()[kobito::RSR];
    EXPECT_FLOAT_EQ(range->startAngle(), 90 - 10.7f);
    EXPECT_FLOAT_EQ(range->sweep(), -(180 - 10.7f));

    SetRange(kobito::LSR, "abc", "100");
    EXPECT_EQ(Slider(kobito::LSR)->Min(), 0.0f);
    EXPECT_EQ(Slider(kobito::LSR)->Value(), 100.0f) << "narrowed from 180 to the maximum";
    EXPECT_FLOAT_EQ(Centre(access.dim_arc()[kobito::LSR]), 270 - 100);
}

TEST_F(PoseEditor, AMinimumAboveTheMaximumLeavesOneValue) {
    SetRange(kobito::RHG, "120", "100");
    EXPECT_EQ(Slider(kobito::RHG)->Min(), 120.0f);
    EXPECT_EQ(Slider(kobito::RHG)->Max(), 120.0f);
    EXPECT_EQ(Label("lblRHG_MIN"), "120");
    EXPECT_EQ(Label("lblRHG_MAX"), "120");
    // RHG is drawn rotated (+1): the arc runs back from 120 to 100.
    const TArc* range = access.dim_arc_range()[kobito::RHG];
    EXPECT_FLOAT_EQ(range->startAngle(), 120);
    EXPECT_FLOAT_EQ(range->sweep(), -20);
}

TEST_F(PoseEditor, HugeBoundsShowAndSendTheNearest32BitIntegers) {
    struct Case {
        const char* min;
        const char* max;
        std::optional<float> dragTo;
        const char* minLabel;
        const char* maxLabel;
        int32_t value; // in the edit box and in out_val
    };
    // Such bounds once showed -9223372036854775808 and sent an undefined value.
    const Case cases[] = {
        {"1e30", "180", {}, "2147483647", "2147483647", INT32_MAX},
        {"0", "3e9", 3e9f, "0", "2147483647", INT32_MAX},
        {"-1e30", "-1e30", {}, "-2147483648", "-2147483648", INT32_MIN},
        {"-3e9", "20", {}, "-2147483648", "20", 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.min) + ".." + c.max);
        SetRange(kobito::HDY, "90", "90");
        SetRange(kobito::HDY, c.min, c.max);
        if (c.dragTo)
            Slider(kobito::HDY)->SetValue(*c.dragTo);
        EXPECT_EQ(Label("lblHDY_MIN"), c.minLabel);
        EXPECT_EQ(Label("lblHDY_MAX"), c.maxLabel);
        EXPECT_EQ(Edit(kobito::HDY)->Text(), QString::number(c.value));
        access.btnTestClick();
        EXPECT_EQ(access.out_val()[kobito::HDY], c.value);
    }
}

TEST_F(PoseEditor, TypingInTheGridAppliesNothingUntilEnterIsReleased) {
    Grid()->setCurrentCell(kobito::HDY, 2);
    Grid()->item(kobito::HDY, 2)->setText("60");
    Grid()->item(kobito::WTY, 1)->setText("100");
    EXPECT_EQ(Slider(kobito::HDY)->Max(), 180.0f);
    Grid()->setFocus();
    QTest::keyRelease(Grid(), Qt::Key_Return);
    EXPECT_EQ(Slider(kobito::HDY)->Max(), 60.0f);
    EXPECT_EQ(Slider(kobito::WTY)->Min(), 100.0f);
    EXPECT_FALSE(access.DataChanged());
}

TEST_F(PoseEditor, SplitterDoubleClickTogglesTheGridWidth) {
    auto* splitter = form.findChild<TSplitter*>("Splitter1");
    auto* grid = Grid();
    form.findChild<QWidget*>("TabControl")->show();
    EXPECT_EQ(grid->width(), 100);
    emit splitter->DblClick();
    EXPECT_EQ(grid->width(), 184);
    emit splitter->DblClick();
    EXPECT_EQ(grid->width(), 100);
    splitter->setSizes({150, splitter->width() - 158});
    emit splitter->DblClick();
    EXPECT_EQ(grid->width(), 100);
}

TEST_F(PoseEditor, TestSendsTheSlidersTruncated) {
    access.btnTestClick();
    const std::array<int32_t, 16> expected = {90, 90, 0,  130, 90, 180, 50,  90,
                                              90, 90, 90, 90,  0,  0,   255, 10};
    EXPECT_EQ(access.out_val(), expected);
}

TEST_F(PoseEditor, PositionArcsCentreOnTheServoAngle) {
    // Stop pose: straight down, but for the two arms.
    for (int k = 0; k < kobito::ServoCount; ++k) {
        const float expected = k == kobito::RSP ? 95.0f : k == kobito::LSP ? 85.0f : 90.0f;
        const float centre = std::fmod(Centre(access.dim_arc()[size_t(k)]) + 360.0f, 360.0f);
        EXPECT_FLOAT_EQ(centre, expected) << k;
    }
    // The width slider widens every position arc around the same angle.
    auto* width = form.findChild<TFloatTrackBar*>("trkMotorWidth");
    width->SetValue(30);
    for (int k = 0; k < kobito::ServoCount; ++k) {
        const TArc* arc = access.dim_arc()[size_t(k)];
        EXPECT_FLOAT_EQ(std::abs(arc->sweep()), 30.0f);
        EXPECT_EQ(arc->sweep() > 0, kobito::IsRotated(k)) << k;
    }
    EXPECT_FLOAT_EQ(Centre(access.dim_arc()[kobito::RSP]), 95.0f);
    EXPECT_FLOAT_EQ(access.dim_arc_range()[kobito::RSP]->sweep(), -180.0f);
    form.findChild<TFloatTrackBar*>("trkMotorHeight")->SetValue(4);
    EXPECT_FLOAT_EQ(access.dim_arc()[kobito::HDY]->strokeThickness(), 4.0f);
    EXPECT_FLOAT_EQ(access.dim_arc_range()[kobito::HDY]->strokeThickness(), 5.0f);
}

TEST_F(PoseEditor, EyesShowTheColourAndFollowEveryChannel) {
    const RobotPicture& picture = access.picture();
    EXPECT_EQ(picture.CirRightEye->fillColor().rgba(), 0xFF0000FFu);
    Slider(kobito::RED)->SetValue(255);
    EXPECT_EQ(picture.CirRightEye->fillColor().rgba(), 0xFFFF00FFu);
    EXPECT_EQ(picture.CirLeftEye->fillColor().rgba(), 0xFFFF00FFu);
}

TEST_F(PoseEditor, PointingAtAPartHighlightsItsOutline) {
    const RobotPicture& picture = access.picture();
    const uint32_t red = 0xFFFF0000u;
    const uint32_t purple = 0xFF800080u;
    for (int k = 0; k < kobito::ServoCount; ++k) {
        SCOPED_TRACE(k);
        for (TShape* source : picture.hoverSources[size_t(k)]) {
            QEvent enter(QEvent::Enter);
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(source, &enter);
            for (TShape* shape : picture.highlight[size_t(k)])
                EXPECT_EQ(shape->outlineColor().rgba(), red) << shape->objectName().toStdString();
            QApplication::sendEvent(source, &leave);
            for (TShape* shape : picture.highlight[size_t(k)])
                EXPECT_EQ(shape->outlineColor().rgba(), purple);
        }
    }
    // A real pointer: from the head group onto its slider and out again. The
    // pointer reaches only a window the platform has exposed.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* group = form.findChild<QWidget*>("grpHDY");
    const TShape* head = picture.highlight[kobito::HDY].front();
    QTest::mouseMove(group, QPoint(5, 5));
    EXPECT_EQ(head->outlineColor().rgba(), red);
    QTest::mouseMove(Slider(kobito::HDY), QPoint(10, 9));
    EXPECT_EQ(head->outlineColor().rgba(), red);
    QTest::mouseMove(group, QPoint(5, 5));
    EXPECT_EQ(head->outlineColor().rgba(), red);
    QTest::mouseMove(form.findChild<QWidget*>("btnFileNew"));
    EXPECT_EQ(head->outlineColor().rgba(), purple);
}

TEST_F(PoseEditor, LeaderLinesHighlightTheirPartUnderARealPointer) {
    const RobotPicture& picture = access.picture();
    // The pointer enters the window somewhere neutral first.
    QTest::mouseMove(form.findChild<QWidget*>("btnFileNew"));
    for (int k = 0; k < kobito::ServoCount; ++k) {
        for (TLine* line : picture.lines[size_t(k)]) {
            SCOPED_TRACE(line->objectName().toStdString());
            // The segment runs through the middle of its box.
            QTest::mouseMove(line, line->rect().center());
            for (TShape* shape : picture.highlight[size_t(k)])
                EXPECT_EQ(shape->outlineColor().rgba(), 0xFFFF0000u);
            QTest::mouseMove(form.findChild<QWidget*>("btnFileNew"));
            for (TShape* shape : picture.highlight[size_t(k)])
                EXPECT_EQ(shape->outlineColor().rgba(), 0xFF800080u);
        }
    }
}

TEST_F(PoseEditor, EyeAndTimeChannelsKeepTheirFullRange) {
    for (int r = 0; r < kobito::ServoCount; ++r)
        SetRange(r, "-50", "400");
    for (int k = kobito::RED; k <= kobito::TIM; ++k) {
        EXPECT_EQ(Slider(k)->Min(), 0.0f);
        EXPECT_EQ(Slider(k)->Max(), 255.0f);
    }
    EXPECT_EQ(Slider(kobito::HDY)->Max(), 400.0f);
}

TEST(PoseEditorStartUp, AStoredRangeExcludingTheStopValueStartsAtItsBound) {
    FreshSettings fresh;
    {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[RSP]\r\nMIN=140\r\nMAX=170\r\n[lsp]\r\nmax = 30\r\n");
    }
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access(form);
    EXPECT_EQ(access.dim_track_bar()[kobito::RSP]->Value(), 140.0f);
    EXPECT_EQ(access.dim_edit()[kobito::RSP]->Text(), "140");
    EXPECT_EQ(access.dim_track_bar()[kobito::LSP]->Value(), 30.0f);
    EXPECT_EQ(form.findChild<QLabel*>("lblLSP_MAX")->text(), "30");
    EXPECT_TRUE(dialogs.shown.empty());
}
