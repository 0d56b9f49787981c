// The bridge to today's Scratch 3 editors: a WebSocket server on 127.0.0.1
// (scratch/Scratch3Server) whose requests play the remote-controller slots
// exactly as a Scratch 1.4 broadcast of the slot's name does, and stop
// playback as its "Quit" does.
#include "uMain.h"

#include "Button.h"
#include "DialogService.h"
#include "Switch.h"

#include "FileError.h"
#include "IniFile.h"
#include "Scratch3Protocol.h"
#include "Scratch3Server.h"
#include "ScratchBridge.h"
#include "VaComm.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QStandardPaths>

#ifndef KOBITO_VERSION
#define KOBITO_VERSION "1.10"
#endif

namespace {

const QString kOriginsSection = QStringLiteral("SCRATCH3_ORIGINS");
const QString kSection = QStringLiteral("SCRATCH3");
// The extension as the program carries it (ui/scratch3.qrc).
const QString kExtensionResource = QStringLiteral(":/scratch3/kobito-motion.js");
// The line of the extension that names the port; a saved copy gets this program's port.
constexpr const char* kExtensionPortLine = "const PORT = 42002;";
// A received message is logged up to this many characters.
constexpr qsizetype kLoggedChars = 200;

QString LogText(const std::string& text) {
    QString line = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (line.size() > kLoggedChars)
        line = line.left(kLoggedChars) + QStringLiteral("…");
    return line;
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

// The resource lives in a static library: without a reference the linker drops it.
static void InitExtensionResource() {
    Q_INIT_RESOURCE(scratch3);
}

// ---- switch and label

void TForm1::swiScratch3Switch() {
    if (swiScratch3->IsChecked())
        StartScratch3();
    else
        StopScratch3();
    UpdateScratch3Label();
}

void TForm1::StartScratch3() {
    if (m_scratch3)
        return;
    kobito::TScratch3Server::Options options;
    options.port = std::uint16_t(Scratch3Port);
    options.origins = m_scratch3Origins;
    const std::uint64_t generation = ++m_scratch3Generation;
    // Events come on the server's thread and are handed to the GUI thread
    // without waiting; the window drops them once it is gone.
    auto sink = [this, generation](kobito::TScratch3Event event) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, event = std::move(event)] {
                try {
                    Scratch3Event(generation, event);
                } catch (...) {
                    ShowCurrentException();
                }
            },
            Qt::QueuedConnection);
    };
    try {
        m_scratch3 = std::make_unique<kobito::TScratch3Server>(std::move(options), sink);
    } catch (const kobito::EScratch3ListenError& e) {
        AddLog(LogScratch, LogOpen, QStringLiteral("Scratch 3 接続エラー"));
        ShowError(QStringLiteral("Scratch 3 の接続を受けられません\r\nScratch 3: ") +
                  QString::fromUtf8(e.what()));
        swiScratch3->SetIsChecked(false); // runs the handler again, which finds nothing to stop
        return;
    }
    // A client's "hello" tells it how things stand; notifications follow changes from here.
    m_scratch3Status = std::pair{Scratch3Playing(), PortIsOpen()};
    m_scratch3Slots = Scratch3Captions();
    AddLog(LogScratch, LogOpen,
           QStringLiteral("Scratch 3 待機中 127.0.0.1:%1").arg(m_scratch3->Port()));
}

void TForm1::StopScratch3() {
    if (!m_scratch3)
        return;
    m_scratch3->Stop();
    m_scratch3.reset();
    ++m_scratch3Generation; // what the old server had queued is dropped
    m_scratch3Clients.clear();
    m_scratch3Play.reset();
    m_scratch3Status.reset();
    m_scratch3Slots.clear();
    if (m_destroyed)
        return;
    AddLog(LogScratch, LogOtherKind, QStringLiteral("Scratch 3 停止"));
    // As switching the 1.4 bridge off does: a list held for Scratch plays on,
    // unless the 1.4 bridge still holds it.
    if (!ScratchConnected())
        Playback.ListEndNotified = false;
}

void TForm1::UpdateScratch3Label() {
    QString text;
    if (!m_scratch3)
        text = QStringLiteral("Scratch 3 停止中");
    else if (m_scratch3Clients.empty())
        text = QStringLiteral("Scratch 3 待機中");
    else if (m_scratch3Clients.size() == 1)
        text = QStringLiteral("Scratch 3 接続中");
    else
        text = QStringLiteral("Scratch 3 接続中 (%1)").arg(m_scratch3Clients.size());
    lblScratch3->setText(text);
}

// ---- events of the server

void TForm1::Scratch3Event(std::uint64_t generation, const kobito::TScratch3Event& event) {
    if (generation != m_scratch3Generation || !m_scratch3 || m_destroyed)
        return;
    using Kind = kobito::TScratch3Event::Kind;
    switch (event.kind) {
    case Kind::Connected:
        m_scratch3Clients.insert(event.connection);
        AddLog(LogScratch, LogOpen,
               QStringLiteral("Scratch 3 接続完了 ") +
                   (event.text.empty() ? QStringLiteral("(no origin)") : FromUtf8(event.text)));
        UpdateScratch3Label();
        break;
    case Kind::Disconnected:
        if (m_scratch3Clients.erase(event.connection) == 0)
            return;
        // Nobody is left to hear the result.
        if (m_scratch3Play && m_scratch3Play->connection == event.connection)
            m_scratch3Play.reset();
        AddLog(LogScratch, LogOtherKind, QStringLiteral("Scratch 3 切断"));
        UpdateScratch3Label();
        break;
    case Kind::Request: {
        // Reading from the connection goes on once this one is handled.
        struct Handled {
            TForm1& f;
            std::uint64_t generation, connection;
            ~Handled() {
                if (f.m_scratch3 && f.m_scratch3Generation == generation)
                    f.m_scratch3->Handled(connection);
            }
        } handled{*this, generation, event.connection};
        if (m_scratch3Clients.count(event.connection) == 0)
            return;
        Scratch3Request(event.connection, event.request, event.text);
        break;
    }
    case Kind::Refused:
        AddLog(LogScratch, LogOtherKind, QStringLiteral("Scratch 3 拒否: ") + FromUtf8(event.text));
        break;
    case Kind::AskOrigin:
        Scratch3AskOrigin(event.text);
        break;
    }
}

void TForm1::Scratch3Request(std::uint64_t connection, const kobito::TScratch3Request& request,
                             const std::string& text) {
    AddLog(LogScratch, LogRecv, LogText(text));
    switch (request.type) {
    case kobito::TScratch3Type::Hello:
        m_scratch3->Send(connection, kobito::Scratch3HelloReply(KOBITO_VERSION, Scratch3Captions(),
                                                                Scratch3Playing(), PortIsOpen()));
        break;
    case kobito::TScratch3Type::Play:
        Scratch3Play(connection, request);
        break;
    case kobito::TScratch3Type::Stop:
        Scratch3Stop();
        break;
    }
    Scratch3UpdateStatus();
}

bool TForm1::Scratch3Busy() const {
    // A question or message is open (ours, or one the user or the 1.4
    // bridge opened): a start now would run under it.
    return m_scratch3Busy > 0 || m_inScratchTick || QApplication::activeModalWidget() != nullptr;
}

void TForm1::Scratch3Play(std::uint64_t connection, const kobito::TScratch3Request& request) {
    auto fail = [&](const char* reason, const QString& message) {
        m_scratch3->Send(connection,
                         kobito::Scratch3ResultError(request.id, reason, ToUtf8(message)));
    };
    if (Scratch3Busy()) {
        AddLog(LogScratch, LogRecv, QStringLiteral("busy"));
        fail("busy", QStringLiteral("KOBITO Motion waits for an answer to a question"));
        return;
    }
    // From here on as a 1.4 broadcast of the name.
    if (!PortIsOpen()) {
        AddLog(LogScratch, LogRecv, QStringLiteral("KOBITO not connected"));
        fail("port-closed", QStringLiteral("KOBITO not connected"));
        return;
    }
    const QString name = FromUtf8(request.slot);
    const kobito::TScratchMatch match = kobito::MatchScratchName(request.slot, Scratch3Captions());
    if (match.Quit) {
        if (Executing)
            btnRunClick();
        AddLog(LogScratch, LogRecv, name + QStringLiteral(" match"));
        m_scratch3->Send(connection, kobito::Scratch3Result(request.id, "stopped"));
        return;
    }
    if (match.Slots.empty()) {
        AddLog(LogScratch, LogRecv, name + QStringLiteral(" unmatch"));
        fail("unknown-slot", QStringLiteral("no slot is named \"%1\"").arg(name));
        return;
    }
    bool loaded = false;
    {
        ++m_scratch3Busy;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{m_scratch3Busy};
        for (const int k : match.Slots) {
            if (RunRemoteSlot(k))
                loaded = true;
            Playback.ListEndNotified = false;
        }
    }
    AddLog(LogScratch, LogRecv, name + QStringLiteral(" match"));
    // The server may have gone while a question was open.
    if (!m_scratch3 || m_scratch3Clients.count(connection) == 0)
        return;
    if (!loaded) {
        fail("busy", QStringLiteral("the unsaved motion list was kept"));
    } else if (!Executing) {
        fail("no-data", QStringLiteral("実行するデータがありません No data available"));
    } else {
        m_scratch3Play = Scratch3PendingPlay{connection, request.id};
    }
}

void TForm1::Scratch3Stop() {
    // As 1.4's "Quit": only with the port open, and only stops.
    if (!PortIsOpen()) {
        AddLog(LogScratch, LogRecv, QStringLiteral("KOBITO not connected"));
        return;
    }
    if (Executing)
        btnRunClick();
    AddLog(LogScratch, LogRecv, QStringLiteral("Quit match"));
}

void TForm1::Scratch3AskOrigin(const std::string& origin) {
    bool allowed = false;
    {
        ++m_scratch3Busy;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{m_scratch3Busy};
        allowed = Dialogs().AskYesNo(
            this, QStringLiteral("Allow Scratch from %1?").arg(FromUtf8(origin)));
    }
    m_scratch3Origins[origin] = allowed;
    if (IniFile)
        IniFile->WriteBool(kOriginsSection, FromUtf8(origin), allowed);
    if (m_scratch3)
        m_scratch3->AnswerOrigin(origin, allowed);
    if (!m_destroyed)
        AddLog(LogScratch, LogOtherKind,
               QStringLiteral("Scratch 3 ") + FromUtf8(origin) +
                   (allowed ? QStringLiteral(" 許可") : QStringLiteral(" 拒否")));
}

// ---- what the clients hear of the window

std::vector<std::string> TForm1::Scratch3Captions() const {
    std::vector<std::string> captions;
    captions.reserve(RemoteSlotCount);
    for (const TButton* slot : dim_Remos)
        captions.push_back(ToUtf8(slot->Caption()));
    return captions;
}

bool TForm1::Scratch3Playing() const {
    // A list held after its end is not playing for Scratch.
    return Executing && !Playback.ListEndNotified;
}

void TForm1::Scratch3UpdateStatus() {
    if (!m_scratch3 || m_destroyed)
        return;
    const std::pair<bool, bool> now{Scratch3Playing(), PortIsOpen()};
    if (m_scratch3Status == now)
        return;
    m_scratch3Status = now;
    m_scratch3->SendAll(kobito::Scratch3Status(now.first, now.second));
}

void TForm1::Scratch3UpdateSlots() {
    if (!m_scratch3 || m_destroyed)
        return;
    std::vector<std::string> now = Scratch3Captions();
    if (now == m_scratch3Slots)
        return;
    m_scratch3Slots = now;
    m_scratch3->SendAll(kobito::Scratch3Slots(now));
}

void TForm1::Scratch3ListEnd() {
    if (!m_scratch3 || m_scratch3Clients.empty())
        return; // the list end is the 1.4 bridge's alone
    const std::string slot = ToUtf8(m_playingSlot);
    if (m_scratch3Play) {
        m_scratch3->Send(m_scratch3Play->connection,
                         kobito::Scratch3Result(m_scratch3Play->id, "done"));
        m_scratch3Play.reset();
    }
    m_scratch3->SendAll(kobito::Scratch3Done(slot));
    AddLog(LogScratch, LogSend, QStringLiteral("Scratch 3 done ") + m_playingSlot);
}

void TForm1::Scratch3PlayStopped() {
    if (!m_scratch3Play)
        return;
    if (m_scratch3)
        m_scratch3->Send(m_scratch3Play->connection,
                         kobito::Scratch3Result(m_scratch3Play->id, "stopped"));
    m_scratch3Play.reset();
}

// ---- the extension file

QFileDialog* TForm1::Scratch3ExtensionDialog() {
    if (Scratch3SaveDialog)
        return Scratch3SaveDialog;
    Scratch3SaveDialog = new QFileDialog(this);
    Scratch3SaveDialog->setObjectName(QStringLiteral("Scratch3SaveDialog"));
    Scratch3SaveDialog->setWindowTitle(QStringLiteral("Save Scratch 3 extension"));
    Scratch3SaveDialog->setNameFilters(
        {QStringLiteral("JavaScript(*.js)"), QStringLiteral("All files(*.*)")});
    Scratch3SaveDialog->setDefaultSuffix(QStringLiteral("js"));
    Scratch3SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    Scratch3SaveDialog->setFileMode(QFileDialog::AnyFile);
    Scratch3SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    Scratch3SaveDialog->setSizeGripEnabled(true);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty())
        Scratch3SaveDialog->setDirectory(documents);
    Scratch3SaveDialog->selectFile(QStringLiteral("kobito-motion.js"));
    return Scratch3SaveDialog;
}

void TForm1::btnScratch3ExtensionClick() {
    const std::optional<QString> chosen = Dialogs().RunFileDialog(Scratch3ExtensionDialog());
    if (!chosen)
        return;
    InitExtensionResource();
    QFile resource(kExtensionResource);
    if (!resource.open(QIODevice::ReadOnly))
        throw std::runtime_error("the extension is missing from the program");
    QByteArray bytes = resource.readAll();
    // The copy connects to the port this program listens on.
    if (Scratch3Port != kobito::kScratch3DefaultPort)
        bytes.replace(kExtensionPortLine,
                      QByteArray("const PORT = ") + QByteArray::number(Scratch3Port) + ';');
    kobito::WriteFileAtomically(*chosen, bytes); // a failure is shown by the exception display
    AddLog(LogOther, LogOtherKind, QStringLiteral("Scratch 3 拡張を保存 ") + *chosen);
}

// ---- settings

void TForm1::LoadScratch3Settings() {
    const int port =
        IniFile->ReadInteger(kSection, QStringLiteral("Port"), kobito::kScratch3DefaultPort);
    Scratch3Port = port >= 1 && port <= 65535 ? port : kobito::kScratch3DefaultPort;
    m_scratch3WantOn = IniFile->ReadBool(kSection, QStringLiteral("Enabled"), false);
    m_scratch3Origins.clear();
    for (const QString& key : IniFile->SectionKeys(kOriginsSection)) {
        const std::optional<std::string> origin =
            kobito::NormaliseScratch3Origin(ToUtf8(key.trimmed()));
        if (origin)
            m_scratch3Origins[*origin] = IniFile->ReadBool(kOriginsSection, key, false);
    }
}

void TForm1::SaveScratch3Settings() {
    // A file that never had the section stays as it was while the defaults hold.
    const bool on = swiScratch3->IsChecked();
    if (!IniFile->SectionExists(kSection) && !on && Scratch3Port == kobito::kScratch3DefaultPort)
        return;
    IniFile->WriteInteger(kSection, QStringLiteral("Port"), Scratch3Port);
    IniFile->WriteBool(kSection, QStringLiteral("Enabled"), on);
}
