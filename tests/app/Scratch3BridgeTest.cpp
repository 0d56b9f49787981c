// The Scratch 3 bridge in the running window: WebSocket clients on
// 127.0.0.1 play the remote-controller slots on the simulated robot as a
// Scratch 1.4 broadcast does, and hear of every list end, stop and change.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "Scratch3Client.h"
#include "ScratchPeer.h"
#include "SimProcess.h"
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "IniFile.h"
#include "Scratch3Json.h"
#include "Scratch3Server.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kobito::test::Scratch3Client;
using kobito::test::ScratchPeer;
using kobito::test::SimProcess;
using namespace std::chrono_literals;

namespace {

class Scratch3Bridge : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    // No window after this one finds the bridge switched on in the shared settings file.
    void TearDown() override {
        access.reset();
        form.reset();
        QFile::remove(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
    }

    // Slots captioned by their file names, more of the settings file, then the window.
    void StartWindow(const std::vector<std::pair<int, QString>>& assigned,
                     const QByteArray& moreSettings = {}) {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[REMOCON]\r\n");
        for (const auto& [k, name] : assigned) {
            const QString path = dir.filePath(name + ".kmf");
            if (!QFile::exists(path))
                MotionFile(name, {11, 12});
            ini.write(QStringLiteral("Button%1=%2\r\n").arg(k + 1).arg(path).toUtf8());
        }
        ini.write(moreSettings);
        ini.close();
        NewWindow();
    }
    void NewWindow() {
        form = std::make_unique<TForm1>();
        access = std::make_unique<TForm1Access>(*form);
        form->show();
    }
    void CloseWindow() {
        form->close();
        access.reset();
        form.reset();
    }
    QByteArray SettingsFile() const {
        QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    }

    // One row per HDY value, each with the move time given (0 ends the list).
    void MotionFile(const QString& name, std::vector<int> hdy, int time = 3) {
        QFile f(dir.filePath(name + ".kmf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int v : hdy)
            f.write(QByteArray::number(v) + ",0,0,0,0,0,0,0,0,0,0,0,0,0,0," +
                    QByteArray::number(time) + "\r\n");
    }

    void OpenRobot() {
        sim = std::make_unique<SimProcess>(
            KOBITO_SIM_PATH, std::vector<std::string>{"--time-unit-ms", "1", "--record",
                                                      dir.filePath("rec").toStdString()});
        form->findChild<QComboBox*>("cbxComPort")
            ->setEditText(QString::fromStdString(sim->DevicePath()));
        ClickConnect();
        ASSERT_EQ(form->findChild<TButton*>("btnConnect")->text(), "切断 Close");
    }
    void ClickConnect() {
        QTest::mouseClick(form->findChild<TButton*>("btnConnect"), Qt::LeftButton);
    }

    // On a free port.
    void SwitchOn() {
        access->SetScratch3Port(0);
        Switch3()->SetIsChecked(true);
        port = access->Scratch3ListeningPort();
        ASSERT_NE(port, 0);
        EXPECT_EQ(Label3(), "Scratch 3 待機中");
    }
    TSwitch* Switch3() { return form->findChild<TSwitch*>("swiScratch3"); }
    QString Label3() { return form->findChild<QLabel*>("lblScratch3")->text(); }

    std::unique_ptr<Scratch3Client> Connect(const std::string& origin = "https://turbowarp.org") {
        auto client = std::make_unique<Scratch3Client>();
        const qsizetype before = Log().count("Scratch 3 接続完了");
        EXPECT_TRUE(client->Connect(port, {{}, origin, {}}))
            << client->Status() << " " << client->Body();
        // The window has taken it in once it has logged it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return Log().count("Scratch 3 接続完了") > before; }));
        EXPECT_TRUE(Label3().startsWith("Scratch 3 接続中")) << Label3().toStdString();
        return client;
    }
    // The next message containing needle, while the window runs; others are passed over.
    std::optional<std::string> Await(Scratch3Client& client, const std::string& needle,
                                     int ms = 5000) {
        std::optional<std::string> found;
        (void)QTest::qWaitFor(
            [&] {
                while (auto text = client.Receive(0ms))
                    if (text->find(needle) != std::string::npos) {
                        found = text;
                        return true;
                    }
                return client.Closed();
            },
            ms);
        return found;
    }
    // Every message that comes within ms.
    std::vector<std::string> Drain(Scratch3Client& client, int ms = 300) {
        std::vector<std::string> all;
        (void)QTest::qWaitFor(
            [&] {
                while (auto text = client.Receive(0ms))
                    all.push_back(*text);
                return false;
            },
            ms);
        return all;
    }
    static std::string Play(int id, const std::string& slot) {
        return R"({"type":"play","id":)" + std::to_string(id) + R"(,"slot":)" +
               kobito::JsonQuote(slot) + "}";
    }
    static std::string Result(int id, const std::string& result) {
        return R"({"type":"result","id":)" + std::to_string(id) + R"(,"result":")" + result +
               R"("})";
    }
    static std::string Error(int id, const std::string& reason) {
        return R"({"type":"result","id":)" + std::to_string(id) +
               R"(,"result":"error","reason":")" + reason + "\"";
    }

    QString Log() { return form->findChild<QPlainTextEdit*>("memLog")->toPlainText(); }
    bool WaitForLog(const QString& text, int ms = 3000) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, ms);
    }
    // Poses the robot received, as their HDY values.
    QStringList Poses() const {
        QFile f(dir.filePath("rec"));
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.contains(" RX #PS00A"))
                    out << QString::number(line.mid(line.indexOf("#PS00A") + 6, 3).toInt());
        return out;
    }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1Access> access;
    std::uint16_t port = 0;
};

} // namespace

TEST_F(Scratch3Bridge, APlayRunsItsSlotAndIsAnsweredWhenTheListHasPlayedThrough) {
    StartWindow({{2, "Walk"}});
    OpenRobot();
    SwitchOn();
    auto a = Connect();
    auto b = Connect();
    EXPECT_EQ(Label3(), "Scratch 3 接続中 (2)");

    ASSERT_TRUE(a->Send(R"({"type":"hello"})"));
    const auto hello = Await(*a, R"("type":"hello")");
    ASSERT_TRUE(hello);
    EXPECT_EQ(*hello, R"({"type":"hello","version":"1.10","protocol":1,"slots":["","","Walk",)"
                      R"("","","","","","","","","","","",""],"playing":false,"portOpen":true})");

    ASSERT_TRUE(a->Send(Play(1, "Walk")));
    EXPECT_TRUE(Await(*b, R"({"type":"status","playing":true,"portOpen":true})"));
    EXPECT_EQ(Await(*a, R"("type":"result")"), Result(1, "done")) << Log().toStdString();
    EXPECT_EQ(Await(*b, R"("type":"done")"), R"({"type":"done","slot":"Walk"})");
    EXPECT_EQ(Await(*a, R"("type":"done")"), R"({"type":"done","slot":"Walk"})");
    EXPECT_TRUE(Await(*b, R"({"type":"status","playing":false,"portOpen":true})"));
    EXPECT_EQ(Poses(), QStringList({"11", "12"}));
    EXPECT_TRUE(Log().contains(R"([SCRTCH/Recv] {"type":"play","id":1,"slot":"Walk"})"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] Walk match"));

    // The list holds after its end, as after a 1.4 "Done"; a play starts it again.
    QTest::qWait(300);
    EXPECT_EQ(Poses(), QStringList({"11", "12"}));
    EXPECT_TRUE(access->Executing());
    ASSERT_TRUE(b->Send(Play(2, "Walk")));
    EXPECT_EQ(Await(*b, R"("type":"result")"), Result(2, "done"));
    EXPECT_EQ(Poses(), QStringList({"11", "12", "11", "12"}));
    // Each list end once, to every client.
    EXPECT_TRUE(Await(*a, R"("type":"done")"));
    for (const std::string& text : Drain(*a))
        EXPECT_EQ(text.find(R"("type":"done")"), std::string::npos) << text;
}

TEST_F(Scratch3Bridge, APlayThatCannotStartIsAnsweredAtOnceAsABroadcastWouldBeLogged) {
    StartWindow({{0, "Walk"}, {1, "Quit"}});
    SwitchOn();
    auto client = Connect();
    ASSERT_TRUE(client->Send(Play(1, "Walk")));
    EXPECT_EQ(Await(*client, "\"id\":1").value_or("").substr(0, Error(1, "port-closed").size()),
              Error(1, "port-closed"));
    EXPECT_TRUE(Log().contains("[SCRTCH/Recv] KOBITO not connected"));

    OpenRobot();
    struct Case {
        std::string slot;
        std::string reply;
        QString logged;
    };
    const std::vector<Case> cases = {
        {"walk", Error(2, "unknown-slot"), "walk unmatch"},
        {"", Error(3, "unknown-slot"), " unmatch"},
        {"Walk ", Error(4, "unknown-slot"), "Walk  unmatch"},
        // "Quit" stops, as the 1.4 broadcast does; its slot never plays
        {"Quit", Result(5, "stopped"), "Quit match"}};
    int id = 2;
    for (const Case& c : cases) {
        ASSERT_TRUE(client->Send(Play(id, c.slot)));
        const auto reply = Await(*client, "\"id\":" + std::to_string(id));
        ASSERT_TRUE(reply) << c.slot;
        EXPECT_EQ(reply->substr(0, c.reply.size()), c.reply);
        EXPECT_TRUE(WaitForLog("[SCRTCH/Recv] " + c.logged)) << c.slot;
        ++id;
    }
    EXPECT_FALSE(access->Executing());
    EXPECT_TRUE(Poses().isEmpty());
}

TEST_F(Scratch3Bridge, NoDataAndTheDiscardQuestionAreThoseOfABroadcast) {
    MotionFile("Empty", {11}, 0);
    StartWindow({{0, "Walk"}, {1, "Empty"}});
    OpenRobot();
    SwitchOn();
    auto client = Connect();

    ASSERT_TRUE(client->Send(Play(1, "Empty")));
    const auto noData = Await(*client, "\"id\":1");
    ASSERT_TRUE(noData);
    EXPECT_EQ(noData->substr(0, Error(1, "no-data").size()), Error(1, "no-data"));
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList({"実行するデータがありません\r\nNo data available"}));

    access->SetCell(0, 1, "99");
    access->SetDataChanged(true);
    dialogs.yesNoAnswers = {false};
    ASSERT_TRUE(client->Send(Play(2, "Walk")));
    const auto kept = Await(*client, "\"id\":2");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->substr(0, Error(2, "busy").size()), Error(2, "busy"));
    EXPECT_EQ(access->Cell(0, 1), "99");
    EXPECT_FALSE(access->Executing());

    dialogs.yesNoAnswers = {true};
    ASSERT_TRUE(client->Send(Play(3, "Walk")));
    EXPECT_EQ(Await(*client, "\"id\":3"), Result(3, "done"));
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), 2);
    EXPECT_EQ(dialogs.unexpected, 0);
}

TEST_F(Scratch3Bridge, APlayWhileAQuestionIsOpenIsBusyAndAStopStillStops) {
    MotionFile("Long", std::vector<int>(20, 40), 50);
    StartWindow({{0, "Walk"}, {1, "Long"}});
    OpenRobot();
    SwitchOn();
    auto first = Connect();
    auto second = Connect();
    ASSERT_TRUE(first->Send(Play(1, "Long")));
    ASSERT_TRUE(Await(*first, R"("playing":true)"));
    access->SetDataChanged(true);

    std::optional<std::string> answer;
    dialogs.yesNoAnswers = {false};
    dialogs.whileAsking = [&] {
        second->Send(Play(7, "Walk"));
        answer = Await(*second, "\"id\":7");
    };
    ASSERT_TRUE(first->Send(Play(2, "Walk")));
    ASSERT_TRUE(Await(*first, "\"id\":2"));
    dialogs.whileAsking = nullptr;
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->substr(0, Error(7, "busy").size()), Error(7, "busy"));

    // The first play still waits; a stop ends it.
    EXPECT_TRUE(access->Executing());
    ASSERT_TRUE(second->Send(R"({"type":"stop"})"));
    EXPECT_EQ(Await(*first, "\"id\":1"), Result(1, "stopped"));
    EXPECT_FALSE(access->Executing());
    EXPECT_TRUE(WaitForLog("[SCRTCH/Recv] Quit match"));
}

TEST_F(Scratch3Bridge, BreakAnotherPlayAndClosingThePortEndAPlayAsStopped) {
    MotionFile("Long", std::vector<int>(20, 40), 50);
    StartWindow({{0, "Long"}, {1, "Other"}});
    OpenRobot();
    SwitchOn();
    auto client = Connect();

    ASSERT_TRUE(client->Send(Play(1, "Long")));
    ASSERT_TRUE(Await(*client, R"("playing":true)"));
    QTest::mouseClick(form->findChild<TButton*>("btnRun"), Qt::LeftButton);
    EXPECT_EQ(Await(*client, "\"id\":1"), Result(1, "stopped"));

    ASSERT_TRUE(client->Send(Play(2, "Long")));
    ASSERT_TRUE(Await(*client, R"("playing":true)"));
    ASSERT_TRUE(client->Send(Play(3, "Other")));
    EXPECT_EQ(Await(*client, "\"id\":2"), Result(2, "stopped"));
    EXPECT_EQ(Await(*client, "\"id\":3"), Result(3, "done"));

    ASSERT_TRUE(client->Send(Play(4, "Long")));
    ASSERT_TRUE(Await(*client, R"("playing":true)"));
    ClickConnect();
    EXPECT_EQ(Await(*client, "\"id\":4"), Result(4, "stopped"));
    EXPECT_TRUE(Await(*client, R"({"type":"status","playing":false,"portOpen":false})"));
}

TEST_F(Scratch3Bridge, SlotCaptionsAndThePortsStateAreSentWhenTheyChange) {
    StartWindow({{0, "Walk"}});
    SwitchOn();
    auto client = Connect();
    form->findChild<TSwitch*>("swiControlMode")->SetIsChecked(true);
    MotionFile("Wave", {20});
    dialogs.fileAnswers = {dir.filePath("Wave.kmf")};
    QTest::mouseClick(access->dim_Remos()[4], Qt::LeftButton);
    EXPECT_EQ(Await(*client, R"("type":"slots")"),
              R"({"type":"slots","slots":["Walk","","","","Wave","","","","","","","","","",""]})");
    QTest::mouseClick(access->dim_Remos_del()[0], Qt::LeftButton);
    EXPECT_EQ(Await(*client, R"("type":"slots")"),
              R"({"type":"slots","slots":["","","","","Wave","","","","","","","","","",""]})");
    OpenRobot();
    EXPECT_TRUE(Await(*client, R"({"type":"status","playing":false,"portOpen":true})"));
    ClickConnect();
    EXPECT_TRUE(Await(*client, R"({"type":"status","playing":false,"portOpen":false})"));
    // Nothing is sent where nothing changed.
    EXPECT_TRUE(Drain(*client).empty());
}

TEST_F(Scratch3Bridge, AnUnknownOriginIsAskedAboutOnceAndTheAnswerIsKeptInTheSettingsFile) {
    StartWindow({{0, "Walk"}});
    SwitchOn();
    dialogs.yesNoAnswers = {true, false};
    Scratch3Client first;
    EXPECT_FALSE(first.Connect(port, {{}, "https://School.example", {}}));
    EXPECT_EQ(first.Status(), 403);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.yesNoAnswers.size() == 1; }));
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo),
              QStringList({"Allow Scratch from https://school.example?"}));
    Connect("https://school.example");

    // A sandboxed extension has the origin "null".
    Scratch3Client sandboxed;
    EXPECT_FALSE(sandboxed.Connect(port, {{}, "null", {}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.yesNoAnswers.empty(); }));
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).last(), "Allow Scratch from null?");
    QTest::qWait(50);
    Scratch3Client again;
    EXPECT_FALSE(again.Connect(port, {{}, "null", {}}));
    EXPECT_EQ(again.Status(), 403);
    EXPECT_TRUE(WaitForLog("origin null was refused"));

    CloseWindow();
    const QByteArray saved = SettingsFile();
    EXPECT_TRUE(saved.contains("[SCRATCH3_ORIGINS]\r\nhttps://school.example=1\r\nnull=0\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("[SCRATCH3]\r\nPort=0\r\nEnabled=1\r\n")) << saved.toStdString();

    // The next start asks nothing: the switch comes on as it was, the answers hold.
    std::uint16_t free = 0;
    {
        kobito::TScratch3Server probe({0, {}}, [](kobito::TScratch3Event) {});
        free = probe.Port();
    }
    QFile ini(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QByteArray(saved).replace("Port=0", "Port=" + QByteArray::number(free)));
    ini.close();
    NewWindow();
    ASSERT_EQ(Label3(), "Scratch 3 待機中");
    port = access->Scratch3ListeningPort();
    Connect("https://school.example");
    Scratch3Client refused;
    EXPECT_FALSE(refused.Connect(port, {{}, "null", {}}));
    EXPECT_EQ(refused.Status(), 403);
    QTest::qWait(50);
    EXPECT_EQ(dialogs.Texts(ShownDialog::YesNo).size(), 2);
    EXPECT_EQ(dialogs.unexpected, 0);
}

TEST_F(Scratch3Bridge, ThePortAndTheSwitchComeFromTheSettingsFile) {
    std::uint16_t free = 0;
    {
        kobito::TScratch3Server probe({0, {}}, [](kobito::TScratch3Event) {});
        free = probe.Port();
    }
    StartWindow({}, QByteArray("[scratch3]\r\nport = ") + QByteArray::number(free) +
                        "\r\nENABLED=1\r\n");
    EXPECT_EQ(Label3(), "Scratch 3 待機中");
    EXPECT_EQ(access->Scratch3ListeningPort(), free);
    Switch3()->SetIsChecked(false);
    EXPECT_EQ(Label3(), "Scratch 3 停止中");
    CloseWindow();
    EXPECT_TRUE(SettingsFile().contains("[scratch3]\r\nPort=" + QByteArray::number(free) +
                                        "\r\nEnabled=0\r\n"))
        << SettingsFile().toStdString();

    // Values that are no port give the default; a fresh file gets no section.
    for (const char* value : {"0", "65536", "-1", "abc", ""}) {
        StartWindow({}, QByteArray("[SCRATCH3]\r\nPort=") + value + "\r\n");
        EXPECT_EQ(access->Scratch3Port(), 42002) << value;
        EXPECT_EQ(Label3(), "Scratch 3 停止中");
        CloseWindow();
    }
    QFile::remove(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
    NewWindow();
    CloseWindow();
    EXPECT_FALSE(SettingsFile().contains("SCRATCH3"));
}

TEST_F(Scratch3Bridge, APortInUseIsReportedAndTheSwitchGoesBackOff) {
    kobito::TScratch3Server other({0, {}}, [](kobito::TScratch3Event) {});
    StartWindow({});
    access->SetScratch3Port(other.Port());
    Switch3()->SetIsChecked(true);
    EXPECT_FALSE(Switch3()->IsChecked());
    EXPECT_EQ(Label3(), "Scratch 3 停止中");
    ASSERT_EQ(dialogs.Texts(ShownDialog::Error).size(), 1);
    EXPECT_TRUE(dialogs.Texts(ShownDialog::Error)[0].contains(QString::number(other.Port())));
    EXPECT_TRUE(Log().contains("[SCRTCH/Open] Scratch 3 接続エラー"));
}

TEST_F(Scratch3Bridge, SwitchingOffClosesEveryClientAndAHeldListPlaysOn) {
    StartWindow({{0, "Walk"}});
    OpenRobot();
    SwitchOn();
    auto client = Connect();
    ASSERT_TRUE(client->Send(Play(1, "Walk")));
    ASSERT_EQ(Await(*client, "\"id\":1"), Result(1, "done"));
    ASSERT_TRUE(access->Playback().ListEndNotified);
    Switch3()->SetIsChecked(false);
    EXPECT_EQ(Label3(), "Scratch 3 停止中");
    EXPECT_FALSE(Await(*client, "never", 2000));
    EXPECT_EQ(client->CloseCode(), 1001);
    // As when the 1.4 bridge goes off: the held list repeats.
    EXPECT_FALSE(access->Playback().ListEndNotified);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Poses().size() >= 4; }));
}

TEST_F(Scratch3Bridge, HostileFramesPlayNothingAndTheBridgeServesOn) {
    StartWindow({{0, "Walk"}});
    OpenRobot();
    SwitchOn();
    auto client = Connect();
    for (const std::string& frame :
         {std::string("{\"type\":\"play\",\"id\":1,\"slot\":\"Walk\""),
          std::string(R"({"type":"play","id":"1","slot":"Walk"})"),
          std::string(R"({"type":"Play","id":1,"slot":"Walk"})"), std::string(1000, '{')})
        ASSERT_TRUE(client->Send(frame));
    ASSERT_TRUE(client->SendBinary(Play(1, "Walk")));
    EXPECT_EQ(Drain(*client, 500).size(), 5);
    client->Send(R"({"type":"play","id":1,"slot":")" + std::string(70000, 'W') + "\"}");
    EXPECT_TRUE(Await(*client, "\"too-large\""));
    EXPECT_FALSE(Await(*client, "never", 2000));
    EXPECT_EQ(client->CloseCode(), 1009);
    EXPECT_FALSE(access->Executing());
    EXPECT_TRUE(Poses().isEmpty());
    EXPECT_FALSE(Log().contains("Walk match"));

    auto next = Connect();
    ASSERT_TRUE(next->Send(Play(9, "Walk")));
    EXPECT_EQ(Await(*next, "\"id\":9"), Result(9, "done"));
}

TEST_F(Scratch3Bridge, BothBridgesHearTheSameListEndAndEitherEndsTheOthersPlay) {
    const std::string kDone = std::string("\x00\x00\x00\x10", 4) + "broadcast \"Done\"";
    MotionFile("Long", std::vector<int>(20, 40), 50);
    StartWindow({{0, "Walk"}, {1, "Long"}});
    ScratchPeer peer;
    access->SetScratchPort(peer.Port());
    OpenRobot();
    form->findChild<TSwitch*>("swiScratch")->SetIsChecked(true);
    ASSERT_TRUE(peer.WaitForClients(1, 2s));
    SwitchOn();
    auto client = Connect();

    // Started from Scratch 3: 1.4 gets its "Done", byte for byte, once.
    ASSERT_TRUE(client->Send(Play(1, "Walk")));
    EXPECT_EQ(Await(*client, "\"id\":1"), Result(1, "done"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone; }));
    EXPECT_TRUE(Await(*client, R"({"type":"done","slot":"Walk"})"));

    // Started from 1.4: Scratch 3 hears the list end too.
    peer.SendFrame("broadcast \"Walk\"");
    EXPECT_TRUE(Await(*client, R"({"type":"done","slot":"Walk"})"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received() == kDone + kDone; }));

    // A 1.4 broadcast replaces a waiting play; a 1.4 "Quit" stops the next.
    ASSERT_TRUE(client->Send(Play(2, "Long")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return access->Executing() && !access->Playback().ListEndNotified; }));
    peer.SendFrame("broadcast \"Long\"");
    EXPECT_EQ(Await(*client, "\"id\":2"), Result(2, "stopped"));
    ASSERT_TRUE(client->Send(Play(3, "Long")));
    // Play 2, the 1.4 broadcast, then play 3: three matches.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().count("[SCRTCH/Recv] Long match") >= 3; }));
    peer.SendFrame("broadcast \"Quit\"");
    EXPECT_EQ(Await(*client, "\"id\":3"), Result(3, "stopped"));

    // Switching Scratch 3 off leaves a list that 1.4 holds as it is.
    ASSERT_TRUE(client->Send(Play(4, "Walk")));
    EXPECT_EQ(Await(*client, "\"id\":4"), Result(4, "done"));
    Switch3()->SetIsChecked(false);
    EXPECT_TRUE(access->Playback().ListEndNotified);
    EXPECT_EQ(peer.Received(), kDone + kDone + kDone);
}

TEST_F(Scratch3Bridge, TheExtensionIsSavedWhereTheUserChoosesWithTheBridgesPort) {
    QFile source(KOBITO_EXTENSION_PATH);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray original = source.readAll();
    // The extension names its port on this line; a saved copy gets the bridge's.
    const QByteArray portLine = "const PORT = 42002;";

    StartWindow({});
    auto* save = form->findChild<TButton*>("btnScratch3Extension");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(), "拡張を保存…");
    const QString target = dir.filePath("kobito-motion.js");
    dialogs.fileAnswers = {target};
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(ShownDialog::File), QStringList({"Save Scratch 3 extension"}));
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), original);
    saved.close();

    dialogs.fileAnswers = {std::nullopt};
    QTest::mouseClick(save, Qt::LeftButton);
    dialogs.fileAnswers = {dir.filePath("missing/kobito-motion.js")};
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(ShownDialog::Exception).size(), 1);
    CloseWindow();

    StartWindow({}, "[SCRATCH3]\r\nPort=42107\r\n");
    dialogs.fileAnswers = {target};
    QTest::mouseClick(form->findChild<TButton*>("btnScratch3Extension"), Qt::LeftButton);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QByteArray expected = original;
    expected.replace(portLine, "const PORT = 42107;");
    const QByteArray withPort = saved.readAll();
    EXPECT_EQ(withPort, expected);
    if (original.contains(portLine)) {
        EXPECT_TRUE(withPort.contains("const PORT = 42107;"));
    }
    EXPECT_EQ(dialogs.unexpected, 0);
}
