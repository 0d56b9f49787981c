// The window on the simulated port "KOBITO Simulator": the port box's entry,
// the simulator view, and the program's features end to end on the
// simulated robot.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "ScratchPeer.h"
#include "SimulatorView.h"
#include "uMain.h"

#include "Button.h"
#include "FloatTrackBar.h"
#include "Shapes.h"
#include "Switch.h"

#include "BoardRecord.h"
#include "Channels.h"
#include "IniFile.h"
#include "PoseCommand.h"
#include "SimulatedPort.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kobito::sim::Clock;
using kobito::test::ScratchPeer;
using namespace std::chrono_literals;

namespace {

constexpr char kSimulator[] = "KOBITO Simulator";

class Simulator : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Controller slots (captioned by their files' names), then the window.
    void StartWindow(const std::vector<std::pair<int, QString>>& assigned = {}) {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[REMOCON]\r\n");
        for (const auto& [k, name] : assigned) {
            const QString path = QDir::toNativeSeparators(dir.filePath(name + ".kmf"));
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n12,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5\r\n");
            ini.write(QStringLiteral("Button%1=%2\r\n").arg(k + 1).arg(path).toUtf8());
        }
        ini.close();
        form = std::make_unique<TForm1>();
        access = std::make_unique<TForm1Access>(*form);
        form->show();
    }

    template <class T = QWidget> T* Find(const char* name) {
        auto* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Click(const char* name) { QTest::mouseClick(Find<TButton>(name), Qt::LeftButton); }

    void OpenSimulator() {
        auto* port = Find<QComboBox>("cbxComPort");
        port->setCurrentIndex(port->findText(kSimulator));
        Click("btnConnect");
        ASSERT_EQ(Find<TButton>("btnConnect")->text(), "切断 Close");
        ASSERT_NE(View(), nullptr);
        if (!record)
            record = std::make_unique<kobito::test::BoardRecord>(Board());
    }

    TFormSimulator* View() { return form->findChild<TFormSimulator*>("FormSimulator"); }
    std::shared_ptr<kobito::sim::SimBoard> Board() { return View()->Board(); }
    QString Log() { return Find<QPlainTextEdit>("memLog")->toPlainText(); }

    // The poses the board took, by their HDY values; polls as "Q".
    QStringList Received() {
        QStringList out;
        for (const auto& c : record->Commands())
            out << (c.text.rfind("#PS00A", 0) == 0
                        ? "P" + QString::number(std::stoi(c.text.substr(6, 3)))
                        : QString::fromStdString(c.text == "#Q" ? "Q" : c.text));
        return out;
    }
    QStringList Poses() { return Received().filter(QRegularExpression("^P")); }

    // The angle a position arc shows: its centre, back through base + d * v.
    static double ShownAngle(const TArc* arc) {
        const double d = arc->sweep() >= 0 ? 1 : -1;
        return (arc->startAngle() + arc->sweep() / 2 - arc->tag()) / d;
    }

    QTemporaryDir dir;
    std::unique_ptr<kobito::test::BoardRecord> record;
    FreshSettings fresh;
    DialogDouble dialogs;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1Access> access;
};

} // namespace

TEST_F(Simulator, ThePortBoxEndsWithTheSimulatorWhichOpensLikeAPort) {
    StartWindow();
    auto* port = Find<QComboBox>("cbxComPort");
    ASSERT_GE(port->count(), 1);
    EXPECT_EQ(port->itemText(port->count() - 1), kSimulator);
    if (port->count() == 1) {
        // No serial ports here: nothing is chosen for the user.
        EXPECT_EQ(port->currentIndex(), -1);
        EXPECT_EQ(port->currentText(), "");
        Click("btnConnect");
        EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
                  QStringList{"有効な通信ポートがありません\r\nNo Com port available"});
        EXPECT_EQ(View(), nullptr);
    } else {
        EXPECT_EQ(port->currentIndex(), 0); // the first real port
    }
    dialogs.shown.clear();

    OpenSimulator();
    EXPECT_TRUE(Log().contains("[KOBITO/Open] 接続完了"));
    EXPECT_TRUE(Find("btnRun")->isEnabled());
    EXPECT_TRUE(Find("btnTest")->isEnabled());
    EXPECT_FALSE(port->isEnabled());
    TFormSimulator* view = View();
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->isWindow());
    EXPECT_EQ(view->windowTitle(), "KOBITO Simulator");
    EXPECT_TRUE(view->findChild<QLabel*>("lblSimState")->text().startsWith("停止中( Idle )"));
    EXPECT_FALSE(view->Animating()); // idle: no frames

    // The user may close the view; the port stays open.
    view->close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(Find<TButton>("btnConnect")->text(), "切断 Close");
    Click("btnConnect");
    EXPECT_TRUE(Log().contains("[KOBITO/****] 切断"));

    // Opened again, it comes back where the user left it.
    OpenSimulator();
    EXPECT_EQ(View(), view);
    EXPECT_TRUE(view->isVisible());
    view->move(view->pos() + QPoint(37, 23));
    const QPoint placed = view->pos();
    Click("btnConnect");
    EXPECT_FALSE(view->isVisible()); // closes with the port
    OpenSimulator();
    EXPECT_EQ(view->pos(), placed);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Simulator, TheNarrowPortBoxShowsTheBeginningOfAChosenNameAndTheWholeOneInItsList) {
    StartWindow();
    auto* port = Find<QComboBox>("cbxComPort");
    QLineEdit* edit = port->lineEdit();
    const int nameWidth = port->fontMetrics().horizontalAdvance(kSimulator);
    ASSERT_GT(nameWidth, edit->width()); // else there is nothing to show

    port->setCurrentIndex(port->findText(kSimulator));
    EXPECT_EQ(edit->cursorPosition(), 0); // "KOBITO Sim...", not "...O Simulator"
    EXPECT_EQ(port->toolTip(), kSimulator);
    EXPECT_GE(port->view()->minimumWidth(), nameWidth);

    // Typing keeps its cursor where the typing is.
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "/dev/pts/12345");
    EXPECT_EQ(edit->cursorPosition(), 14);
    EXPECT_EQ(port->toolTip(), "/dev/pts/12345");
}

TEST_F(Simulator, TheViewFollowsTheMoveTheTestButtonSent) {
    StartWindow();
    OpenSimulator();
    auto& bars = access->dim_track_bar();
    bars[kobito::HDY]->SetValue(30);
    bars[kobito::RSP]->SetValue(170);
    bars[kobito::RED]->SetValue(255);
    bars[kobito::GRN]->SetValue(128);
    bars[kobito::BLU]->SetValue(0);
    bars[kobito::TIM]->SetValue(100); // 1 s
    Click("btnTest");
    const auto target = access->out_val();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Board()->At(Clock::now()).poses == 1; }, 3000));
    const auto taken = record->Commands();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].text, kobito::BuildPoseCommand(target));
    EXPECT_TRUE(QTest::qWaitFor([&] { return View()->Animating(); }, 1000));

    const auto start = Board()->At(Clock::now()).moveStart;
    const auto& arcs = View()->Picture().positionArcs;
    // Every servo was at its centre, 90, before this first pose.
    View()->ShowAt(start + 500ms);
    for (int k = 0; k < kobito::ServoCount; ++k)
        EXPECT_NEAR(ShownAngle(arcs[size_t(k)]), (90 + target[size_t(k)]) / 2.0, 3) << k;
    EXPECT_TRUE(
        View()->findChild<QLabel*>("lblSimState")->text().startsWith("動作中( Moving ) 50%"));
    View()->ShowAt(start + 1000ms);
    for (int k = 0; k < kobito::ServoCount; ++k)
        EXPECT_NEAR(ShownAngle(arcs[size_t(k)]), target[size_t(k)], 0.01) << k;
    EXPECT_EQ(View()->Picture().CirRightEye->fillColor(), QColor(255, 128, 0));
    EXPECT_EQ(View()->Picture().CirLeftEye->fillColor(), QColor(255, 128, 0));

    // When the move is over the frames stop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View()->Animating(); }, 3000));
    const QString state = View()->findChild<QLabel*>("lblSimState")->text();
    EXPECT_TRUE(state.startsWith("停止中( Idle )")) << state.toStdString();
    EXPECT_TRUE(state.contains("1")) << "the poses received";
}

// The view only shows: its shapes take no pointer and keep no mask, which
// would otherwise be made again for every arc on every frame.
TEST_F(Simulator, TheViewsShapesTakeNoPointerAndKeepNoMaskWhileTheRobotMoves) {
    StartWindow();
    OpenSimulator();
    access->dim_track_bar()[kobito::HDY]->SetValue(30);
    access->dim_track_bar()[kobito::TIM]->SetValue(100);
    Click("btnTest");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Board()->At(Clock::now()).poses == 1; }, 3000));
    View()->ShowAt(Board()->At(Clock::now()).moveStart + 500ms);
    const auto shapes = View()->findChildren<TShape*>();
    ASSERT_FALSE(shapes.isEmpty());
    for (const TShape* shape : shapes) {
        EXPECT_TRUE(shape->mask().isEmpty()) << shape->objectName().toStdString();
        EXPECT_TRUE(shape->testAttribute(Qt::WA_TransparentForMouseEvents))
            << shape->objectName().toStdString();
    }
    // The main window's picture keeps its hover.
    EXPECT_FALSE(Find<TShape>("ArcHDY")->mask().isEmpty());
}

// A command the board refuses shows in the status line with the reason, the
// command cut short so that the window keeps its width; the last one stays.
TEST_F(Simulator, TheStatusLineShowsTheLastRefusedCommandAndWhy) {
    StartWindow();
    OpenSimulator();
    auto* status = View()->findChild<QLabel*>("lblSimState");
    const int width = View()->width();
    const std::string badPose = "#PS00A090S01A090S02A0S03A130S04A090S05A180S06A050S07A090"
                                "S08A090S09A090S10A090S11A090R000G000B255T010";
    const struct {
        std::string command;
        QString line;
    } cases[] = {
        {"#Z", "受け付けない命令 Refused command: #Z  (unknown command)"},
        {badPose, "受け付けない命令 Refused command: #PS00A090S01A090S02…  (bad value after "
                  "S02A at offset 20)"},
    };
    EXPECT_FALSE(status->text().contains("Refused"));
    for (const auto& c : cases) {
        Find<QLineEdit>("edtCommand")->setText(QString::fromStdString(c.command));
        Click("btnSendCommand");
        const auto lastLine = [&] { return status->text().section('\n', 1); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return lastLine() == c.line; }, 3000))
            << lastLine().toStdString();
        EXPECT_EQ(View()->width(), width);
    }
    // A command taken afterwards leaves the last refusal in place.
    Find<QLineEdit>("edtCommand")->setText("#C");
    Click("btnSendCommand");
    EXPECT_TRUE(QTest::qWaitFor([&] { return record->Commands().size() == 3u; }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(status->text(), "停止中( Idle )    受信ポーズ( Poses ): 0\n" + cases[1].line);
}

TEST_F(Simulator, TenRowsPlayAsTheTableSaysOneCommandPerTick) {
    StartWindow();
    OpenSimulator();
    for (int r = 0; r < 10; ++r) {
        for (int c = 1; c <= 16; ++c)
            access->SetCell(r, c, QString::number((r * 7 + c * 13) % 180));
        access->SetCell(r, 1, QString::number(10 + r));
        access->SetCell(r, 16, "5"); // 50 ms
    }
    Click("btnRun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 11; }, 15000))
        << Log().toStdString();
    bool animated = View()->Animating();
    Click("btnRun");
    ASSERT_EQ(Find<TButton>("btnRun")->text(), "実行 Run");

    const auto taken = record->Commands();
    std::vector<std::string> poses;
    for (const auto& c : taken)
        if (c.text.rfind("#P", 0) == 0)
            poses.push_back(c.text);
    for (int r = 0; r < 11; ++r) {
        std::array<int32_t, 16> row{};
        for (int c = 1; c <= 16; ++c)
            row[size_t(c - 1)] = access->Cell(r % 10, c).toInt();
        EXPECT_EQ(poses[size_t(r)], kobito::BuildPoseCommand(row)) << r;
    }
    // A row first, then polls until the robot reported the move finished,
    // then the next row; never two commands in one 50 ms tick.
    const QStringList all = Received();
    EXPECT_TRUE(all.front().startsWith('P'));
    for (qsizetype i = 1; i < all.size(); ++i) {
        if (all[i].startsWith('P'))
            EXPECT_EQ(all[i - 1], "Q") << i;
        else
            EXPECT_EQ(all[i], "Q") << i;
    }
    // Measured where each command begins on the line: a pose takes 17.7 ms
    // to cross it, a poll 0.3 ms.
    auto began = [](const kobito::sim::Command& c) {
        return c.arrived - kobito::sim::kByteTime * int64_t(c.text.size() - 1);
    };
    for (std::size_t i = 1; i < taken.size(); ++i)
        EXPECT_GE(began(taken[i]) - began(taken[i - 1]), 40ms) << i;
    EXPECT_TRUE(Log().contains("[KOBITO/Recv] #QPT000"));

    // The view moved along and rests once the last move is over.
    animated = animated || View()->Animating();
    EXPECT_TRUE(animated);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View()->Animating(); }, 3000));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Simulator, PresetsSlotsAndScratchDriveTheSimulatedRobot) {
    ScratchPeer peer;
    StartWindow({{0, "Walk"}});
    access->SetScratchPort(peer.Port());
    OpenSimulator();

    // A preset, then Test.
    TabTo(*form, "TabItem2");
    Click("btnQuickStop1");
    Click("btnTest");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Board()->At(Clock::now()).poses == 1; }, 3000));
    const auto pose = record->Commands().back().text;
    for (int k = 0; k < kobito::ServoCount; ++k)
        EXPECT_EQ(pose.substr(size_t(2 + k * 7 + 4), 3),
                  kobito::FormatValue3(kobito::StopPose[size_t(k)]))
            << k;

    // A controller slot plays its motion.
    TabTo(*form, "TabItem4");
    QTest::mouseClick(access->dim_Remos()[0], Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 4; }, 5000));
    Click("btnRun"); // Break
    EXPECT_EQ(Poses().mid(1, 3), QStringList({"P11", "P12", "P11"}));

    // A Scratch broadcast plays it once and hears Done.
    const std::string done = std::string("\x00\x00\x00\x10", 4) + "broadcast \"Done\"";
    const qsizetype before = Poses().size();
    form->findChild<TSwitch*>("swiScratch")->SetIsChecked(true);
    ASSERT_TRUE(peer.WaitForClients(1, 2s));
    peer.SendFrame("broadcast \"Walk\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == done; }, 5000))
        << Log().toStdString();
    EXPECT_EQ(Poses().mid(before), QStringList({"P11", "P12"}));
    EXPECT_TRUE(dialogs.shown.empty());
}
