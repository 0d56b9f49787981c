// Every named panel, group and control of the window: its parent, its place
// and size, and its caption.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

struct Placed {
    const char* name;
    const char* parent;
    QRect geometry;
    const char* caption; // group title or button text; nullptr: not checked
};

const Placed kLayout[] = {
    {"pnlTop", "Form1", {0, 0, 1000, 482}, nullptr},
    {"pnlBottom", "Form1", {0, 482, 1000, 258}, nullptr},
    {"pnlOperation", "pnlBottom", {756, 0, 244, 258}, nullptr},
    {"grpFile", "pnlOperation", {0, 7, 236, 65}, "ファイル( File )"},
    {"btnFileNew", "grpFile", {8, 22, 52, 35}, "新規 New"},
    {"btnFileOpen", "grpFile", {64, 22, 52, 35}, "開く Open"},
    {"btnFileSave", "grpFile", {120, 22, 52, 35}, "保存 Save"},
    {"btnFileExit", "grpFile", {176, 22, 52, 35}, "終了 Exit"},
    {"grpRow", "pnlOperation", {0, 72, 236, 72}, "行操作( Row )"},
    {"btnRowClear", "grpRow", {8, 22, 52, 42}, "クリア Clear"},
    {"btnRowEdit", "grpRow", {64, 22, 52, 42}, "編集 Edit"},
    {"btnRowInsert", "grpRow", {120, 22, 52, 42}, "挿入 Insert"},
    {"btnRowDelete", "grpRow", {176, 22, 52, 42}, "削除 Delete"},
    {"GroupBox20", "pnlOperation", {0, 144, 236, 114}, "KOBITOと接続( Connect to KOBITO )"},
    {"GroupBox19", "GroupBox20", {4, 18, 168, 90}, "通信( COM )"},
    {"cbxComPort", "GroupBox19", {8, 20, 86, 25}, nullptr},
    {"cbxCombaud", "GroupBox19", {8, 53, 86, 25}, nullptr},
    {"btnConnect", "GroupBox19", {102, 19, 58, 60}, "接続 Open"},
    {"btnRun", "GroupBox20", {176, 22, 52, 84}, "実行 Run"},
    {"TabControl", "pnlBottom", {8, 8, 740, 242}, nullptr},
    {"pnlTopTop", "pnlTop", {0, 0, 1000, 482}, nullptr},
    {"pnlTopTopLeft", "pnlTopTop", {0, 0, 182, 482}, nullptr},
    {"pnlTopTopCenter", "pnlTopTop", {182, 0, 636, 482}, nullptr},
    {"pnlTopTopRight", "pnlTopTop", {818, 0, 182, 482}, nullptr},
    {"ScaledLayout1", "pnlTopTopCenter", {0, 0, 636, 482}, nullptr},
    {"grpTIM", "pnlTopTopLeft", {8, 8, 174, 92}, "TIM  時間( Time )"},
    {"trkTIM", "grpTIM", {4, 40, 166, 18}, nullptr},
    {"btnApply", "grpTIM", {4, 62, 80, 26}, "更新( Apply )"},
    {"btnTest", "grpTIM", {88, 62, 82, 26}, "試験( Test )"},
    {"grpRight", "pnlTopTopLeft", {8, 100, 174, 382}, "右側( Right side )"},
    {"GroupBox7", "pnlTopTopRight", {0, 100, 174, 382}, "左側( Left side )"},
    {"grpRSR", "grpRight", {12, 20, 150, 60}, "RSR  肩( Shouder ) #02"},
    {"grpRSP", "grpRight", {12, 88, 150, 60}, "RSP  腕( Arm ) #03"},
    {"grpRHG", "grpRight", {12, 156, 150, 60}, "RHG  手( Hand ) #04"},
    {"grpRFY", "grpRight", {12, 240, 150, 60}, "RFY  脚( Leg ) #08"},
    {"grpRFP", "grpRight", {12, 308, 150, 60}, "RFP  足( Foot ) #09"},
    {"grpLSR", "GroupBox7", {12, 20, 150, 60}, "LSR  肩( Shoulder ) #05"},
    {"grpLSP", "GroupBox7", {12, 88, 150, 60}, "LSP  LSP 腕( Arm ) #06"},
    {"grpLHG", "GroupBox7", {12, 156, 150, 60}, "LHG  手( Hand ) #07"},
    {"grpLFY", "GroupBox7", {12, 240, 150, 60}, "LFY  脚( Leg ) #10"},
    {"grpLFP", "GroupBox7", {12, 308, 150, 60}, "LFP  足( Foot ) #11"},
    {"Panel14", "pnlTop", {180, 0, 170, 180}, nullptr},
    {"grpHDY", "Panel14", {8, 8, 150, 60}, "HDY  頭( Head ) #00"},
    {"grpWTY", "Panel14", {8, 80, 150, 60}, "WTY  腰( Waist ) #01"},
    {"Panel11", "pnlTop", {600, 0, 400, 105}, nullptr},
    {"grpEyes", "Panel11", {8, 4, 384, 96}, "目( Eyes )"},
    {"grpRED", "grpEyes", {6, 18, 120, 70}, "RED  赤( Red )"},
    {"grpGRN", "grpEyes", {132, 18, 120, 70}, "GRN  緑( Green )"},
    {"grpBLU", "grpEyes", {258, 18, 120, 70}, "BLU  青( Blue )"},
    {"trkRED", "grpRED", {4, 53, 112, 14}, nullptr},
    {"trkHDY", "grpHDY", {4, 39, 142, 18}, nullptr},
    {"grpMotor", "TabItem3", {4, 2, 142, 112}, "モータ( Motor )"},
    {"grpMotorHeight", "grpMotor", {6, 16, 130, 44}, "高さ( Height )"},
    {"grpMotorWidth", "grpMotor", {6, 62, 130, 44}, "幅( width )"},
    {"grpApply", "TabItem3", {4, 118, 142, 96}, "更新( Apply )"},
    {"grpAutoIncr", "grpApply", {6, 16, 130, 72}, "自動インクリメント"},
};

QString CaptionOf(const QWidget* w) {
    if (auto* box = qobject_cast<const QGroupBox*>(w))
        return box->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    return {};
}

class WindowLayout : public ::testing::Test {
protected:
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
};

} // namespace

TEST_F(WindowLayout, EveryNamedControlStandsAtItsPlaceWithItsCaption) {
    for (const Placed& p : kLayout) {
        SCOPED_TRACE(p.name);
        auto* w = form.findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(p.parent));
        EXPECT_EQ(w->geometry(), p.geometry);
        if (p.caption) {
            EXPECT_EQ(CaptionOf(w), QString::fromUtf8(p.caption));
        }
    }
}

TEST_F(WindowLayout, ClientAreaIsFixedWithoutMaximiseBox) {
    form.show();
    EXPECT_EQ(form.size(), QSize(1000, 740));
    EXPECT_EQ(form.minimumSize(), QSize(1000, 740));
    EXPECT_EQ(form.maximumSize(), QSize(1000, 740));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(WindowLayout, TabsInOrderWithTheirCaptions) {
    auto* tabs = form.findChild<QTabWidget*>("TabControl");
    ASSERT_NE(tabs, nullptr);
    const std::pair<const char*, const char*> expected[] = {
        {"tabGrid", "リスト( Motion list )"}, {"TabItem1", "簡単設定1( Quick 1 )"},
        {"TabItem2", "簡単設定2( Quick 2 )"}, {"TabItem4", "コントローラ( controler )"},
        {"tabLog", "通信ログ( Serial log )"}, {"TabItem3", "設定( Setup )"}};
    ASSERT_EQ(tabs->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), QString::fromLatin1(expected[i].first));
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf8(expected[i].second));
    }
}

TEST_F(WindowLayout, ServoRowsPutTheMinimumOnTheSideOfTheSlidersMinimum) {
    // Rotated sliders have their minimum at the right, and so do their labels.
    for (const char* name : {"HDY", "RSR", "RHG", "LFP", "TIM"}) {
        SCOPED_TRACE(name);
        const bool rotated = QString(name) == "RHG" || QString(name) == "LFP";
        const QString n = QString::fromLatin1(name);
        auto* min = form.findChild<QLabel*>((n == "TIM" ? "Lbl" : "lbl") + n + "_MIN");
        auto* max = form.findChild<QLabel*>("lbl" + n + "_MAX");
        auto* edit = form.findChild<QWidget*>("edt" + n);
        ASSERT_TRUE(min && max && edit);
        EXPECT_EQ(min->width(), 28);
        EXPECT_EQ(max->width(), 28);
        EXPECT_EQ(edit->width(), 50);
        EXPECT_EQ(min->x() > max->x(), rotated);
    }
}

TEST_F(WindowLayout, EveryTabPageIs740By218AndHoldsItsContents) {
    form.show();
    auto* tabs = form.findChild<QTabWidget*>("TabControl");
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QWidget* page = tabs->widget(i);
        SCOPED_TRACE(page->objectName().toStdString());
        EXPECT_EQ(page->size(), QSize(740, 218));
        EXPECT_EQ(page->mapTo(tabs, QPoint(0, 0)), QPoint(0, 24)) << "below 24 high headers";
        // Nothing is cut off at the page's edges (the motion grid's scroll bar included).
        for (QWidget* child : page->findChildren<QWidget*>()) {
            if (!child->isVisibleTo(page) || child->isWindow())
                continue;
            const QRect inPage(child->mapTo(page, QPoint(0, 0)), child->size());
            EXPECT_TRUE(page->rect().contains(inPage))
                << child->objectName().toStdString() << " at " << inPage.x() << "," << inPage.y()
                << " " << inPage.width() << "x" << inPage.height();
        }
    }
    EXPECT_EQ(form.findChild<QWidget*>("Splitter1")->geometry(), QRect(0, 0, 740, 218));
}

TEST_F(WindowLayout, OperationButtonsNeverTakeTheFocus) {
    for (const char* name :
         {"btnFileNew", "btnFileOpen", "btnFileSave", "btnFileExit", "btnRowClear", "btnRowEdit",
          "btnRowInsert", "btnRowDelete", "btnConnect", "btnRun"}) {
        auto* w = form.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST_F(WindowLayout, ComponentsWithoutAPlaceExist) {
    for (const char* name : {"Timer1", "TmrScratch"})
        EXPECT_NE(form.findChild<QObject*>(name), nullptr) << name;
}

TEST(Fonts, AJapaneseFontIsInstalled) {
    // Without one every caption renders as boxes.
    const QStringList families = QFontDatabase::families(QFontDatabase::Japanese);
    EXPECT_FALSE(families.isEmpty())
        << "fonts: " << QFontDatabase::families().join(", ").toStdString();
}
