// The custom controls' change semantics, on which the pose editor's
// synchronisation relies.
#include "DialogService.h"
#include "EditBox.h"
#include "FloatTrackBar.h"
#include "Switch.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

TEST(FloatTrackBar, ClampsOnSetAndOnEveryChangeOfTheBounds) {
    TFloatTrackBar bar;
    bar.SetMax(180);
    QSignalSpy changes(&bar, &TFloatTrackBar::Change);

    bar.SetValue(200);
    EXPECT_EQ(bar.Value(), 180.0f);
    bar.SetValue(-5);
    EXPECT_EQ(bar.Value(), 0.0f);
    EXPECT_EQ(changes.count(), 2);

    bar.SetValue(90);
    bar.SetMin(100); // the value follows the raised minimum
    EXPECT_EQ(bar.Value(), 100.0f);
    bar.SetMax(50); // a maximum below the minimum is raised to it
    EXPECT_EQ(bar.Max(), 100.0f);
    EXPECT_EQ(bar.Value(), 100.0f);
    bar.SetMin(0);
    bar.SetMax(10.5f);
    EXPECT_EQ(bar.Value(), 10.5f);
}

TEST(FloatTrackBar, ChangeFiresOnlyOnARealChange) {
    TFloatTrackBar bar;
    bar.SetMax(255);
    bar.SetValue(10);
    QSignalSpy changes(&bar, &TFloatTrackBar::Change);
    bar.SetValue(10);
    bar.SetMin(0);
    bar.SetMax(255);
    EXPECT_EQ(changes.count(), 0);
    bar.SetValue(10.25f);
    EXPECT_EQ(changes.count(), 1);
}

TEST(FloatTrackBar, DraggingGivesFractionalValuesAndARotatedBarRunsBackwards) {
    for (const bool rotated : {false, true}) {
        TFloatTrackBar bar;
        bar.resize(142, 18);
        bar.SetMax(180);
        bar.SetRotated(rotated);
        bar.show();
        QSignalSpy changes(&bar, &TFloatTrackBar::Change);
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(40, 9));
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(40, 9));
        EXPECT_GE(changes.count(), 1);
        const float v = bar.Value();
        EXPECT_NE(v, std::trunc(v)) << "a drag position rarely lands on a whole value";
        // The left quarter is near the minimum, or near the maximum when rotated.
        if (rotated) {
            EXPECT_GT(v, 120.0f);
        } else {
            EXPECT_LT(v, 60.0f);
        }
    }
}

TEST(EditBox, ProgramSetsFireOnlyOnADifferentText) {
    TEditBox edit;
    QSignalSpy changes(&edit, &TEditBox::Change);
    edit.SetText("90");
    edit.SetText("90");
    EXPECT_EQ(changes.count(), 1);
    edit.SetText("");
    EXPECT_EQ(changes.count(), 2);
}

TEST(EditBox, TypingFiresOnEnterOrWhenLeavingNotBefore) {
    QWidget host;
    auto* edit = new TEditBox(&host);
    auto* other = new TEditBox(&host);
    other->move(0, 40);
    host.show();
    QApplication::setActiveWindow(&host);
    QSignalSpy changes(edit, &TEditBox::Change);

    edit->setFocus();
    QTest::keyClicks(edit, "123");
    EXPECT_EQ(changes.count(), 0);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(changes.count(), 1);
    QTest::keyClick(edit, Qt::Key_Return); // nothing typed since
    EXPECT_EQ(changes.count(), 1);

    QTest::keyClicks(edit, "4");
    other->setFocus();
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(edit->Text(), "1234");
}

TEST(Switch, FiresOnEveryChangeOfState) {
    TSwitch sw;
    sw.resize(100, 30);
    sw.show();
    QSignalSpy switches(&sw, &TSwitch::Switch);
    sw.SetIsChecked(true);
    sw.SetIsChecked(true);
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_EQ(switches.count(), 2);
    EXPECT_FALSE(sw.IsChecked());
}

TEST(MessageBoxes, ShowTheirTextAsPlainText) {
    // A typed device path or a file name with a tag in it is no markup.
    const auto box = NewMessageBox(QMessageBox::NoIcon, "Specified device not found (<b>x</b>).",
                                   QMessageBox::Ok, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), "Specified device not found (<b>x</b>).");
}
