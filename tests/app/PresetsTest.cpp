// Quick settings: presets only move the pose editor's sliders.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "Button.h"
#include "FloatTrackBar.h"

#include "Channels.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Presets : public ::testing::Test {
protected:
    void SetUp() override { form.show(); }
    std::array<float, 16> Values() const {
        std::array<float, 16> v{};
        for (int k = 0; k < 16; ++k)
            v[size_t(k)] = access.dim_track_bar()[size_t(k)]->Value();
        return v;
    }
    void Choose(int channel, const QString& caption) {
        QComboBox* box = access.Quick1Combos()[size_t(channel)];
        const int index = box->findText(caption);
        ASSERT_GE(index, 0) << caption.toStdString();
        box->setCurrentIndex(index);
    }
    void Click(const char* name) {
        QTest::mouseClick(form.findChild<TButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    }

    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};

} // namespace

TEST_F(Presets, DropDownsHoldTheirCaptionsAndStartUnset) {
    EXPECT_EQ(access.Quick1Combos()[kobito::RSP]->count(), 4);
    EXPECT_EQ(access.Quick1Combos()[kobito::HDY]->itemText(5), "左( 180 )");
    EXPECT_EQ(access.Quick1Combos()[12]->count(), 10);
    for (QComboBox* box : access.Quick1Combos())
        EXPECT_EQ(box->currentText(), "設定しない");
}

TEST_F(Presets, SetAppliesOnlyTheChosenBoxes) {
    const auto before = Values();
    Click("btnQuickSet");
    EXPECT_EQ(Values(), before);

    Choose(kobito::HDY, "左( 180 )");
    Click("btnQuickSet");
    auto expected = before;
    expected[kobito::HDY] = 180;
    EXPECT_EQ(Values(), expected);

    struct Eye {
        const char* caption;
        float r, g, b;
    };
    for (const Eye& e : {Eye{"紫", 127, 127, 255}, Eye{"黒(無点灯)", 0, 0, 0}}) {
        Choose(12, QString::fromUtf8(e.caption));
        Click("btnQuickSet");
        EXPECT_EQ(Values()[kobito::RED], e.r) << e.caption;
        EXPECT_EQ(Values()[kobito::GRN], e.g);
        EXPECT_EQ(Values()[kobito::BLU], e.b);
    }

    // Reset returns the boxes, not the sliders.
    const auto set = Values();
    Click("btnQuickReset");
    EXPECT_EQ(Values(), set);
    for (QComboBox* box : access.Quick1Combos())
        EXPECT_EQ(box->currentIndex(), 0);
}

TEST_F(Presets, StopAndWalkingStepsSetTheirServosOnly) {
    for (int k = 0; k < 16; ++k)
        access.dim_track_bar()[size_t(k)]->SetValue(33);
    Click("btnQuickStop1");
    const std::array<float, 16> stopped = {90, 90, 0,  130, 90, 180, 50, 90,
                                           90, 90, 90, 90,  33, 33,  33, 33};
    EXPECT_EQ(Values(), stopped);

    struct Step {
        const char* button;
        std::array<float, 4> legs;
    };
    for (const Step& s :
         {Step{"btnQuickBackward4", {80, 60, 80, 70}}, Step{"btnQuickTurnRight1", {95, 60, 85, 70}},
          Step{"btnQuickForward6", {110, 100, 110, 110}},
          Step{"btnQuickTurnLeft3", {100, 70, 80, 80}}}) {
        SCOPED_TRACE(s.button);
        Click("btnQuickStop1");
        Click(s.button);
        auto expected = stopped;
        std::copy(s.legs.begin(), s.legs.end(), expected.begin() + kobito::RFY);
        EXPECT_EQ(Values(), expected);
    }
}

TEST_F(Presets, PresetsNeverTouchTheRobotOrTheTable) {
    for (int c = 1; c <= 16; ++c)
        access.SetCell(0, c, "7");
    access.SetDataChanged(false);
    Choose(kobito::RSR, "上( 180 )");
    Click("btnQuickSet");
    Click("btnQuickStop1");
    Click("btnQuickForward2");
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(access.RowText(0), "7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7");
    EXPECT_TRUE(form.findChild<QPlainTextEdit*>("memLog")->toPlainText().isEmpty());
}

TEST_F(Presets, APresetBeyondANarrowedRangeIsClamped) {
    auto* grid = form.findChild<QTableWidget*>("grdRange");
    grid->item(kobito::HDY, 2)->setText("120");
    grid->setCurrentCell(3, 1);
    Choose(kobito::HDY, "左( 180 )");
    Click("btnQuickSet");
    EXPECT_EQ(Values()[kobito::HDY], 120.0f);
}
