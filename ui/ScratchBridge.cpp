// The bridge to Scratch's remote-sensor connection: broadcasts start the
// remote-controller slots, "Quit" stops playback, and "Done" goes back when a
// list has been played through.
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "ScratchBridge.h"
#include "ScratchClient.h"
#include "ScratchFrame.h"
#include "VaComm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

namespace {
// One tick hands the GUI thread back after this long; the rest waits for the next.
constexpr qint64 kTickBudgetMs = 40;
} // namespace

void TForm1::CreateScratchClient() {
    IdTCPClient = std::make_unique<kobito::TScratchClient>();
    IdTCPClient->Host = "127.0.0.1";
    IdTCPClient->Port = 42001;
    IdTCPClient->OnConnected = [this] { IdTCPClientConnected(); };
    IdTCPClient->OnDisconnected = [this] { IdTCPClientDisconnected(); };
}

void TForm1::swiScratchSwitch() {
    if (swiScratch->IsChecked()) {
        try {
            IdTCPClient->Connect();
        } catch (const std::exception&) {
            ShowError(QStringLiteral("SCRATCHと接続できません"));
            AddLog(LogScratch, LogOpen, QStringLiteral("接続エラー"));
        }
        TmrScratch->start();
    } else {
        try {
            IdTCPClient->Disconnect();
        } catch (const std::exception&) {
        }
        TmrScratch->stop();
    }
    Playback.ListEndNotified = false;
    Scratch3UpdateStatus();
}

void TForm1::IdTCPClientConnected() {
    lblScratch->setText(QStringLiteral("Scratch 接続中"));
    AddLog(LogScratch, LogOpen, QStringLiteral("接続完了"));
}

void TForm1::IdTCPClientDisconnected() {
    lblScratch->setText(QStringLiteral("Scratch 未接続"));
    AddLog(LogScratch, LogOtherKind, QStringLiteral("切断"));
}

void TForm1::TmrScratchTimer() {
    // A dialog opened by a tick runs its own event loop; no tick runs meanwhile.
    if (m_inScratchTick)
        return;
    m_inScratchTick = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inScratchTick};

    try {
        if (!IdTCPClient->Connected()) {
            ScratchDisconnectOnError();
            return;
        }
        QElapsedTimer budget;
        budget.start();
        std::string frame;
        while (IdTCPClient->TryReadFrame(frame)) {
            HandleScratchMessage(frame);
            if (budget.elapsed() >= kTickBudgetMs)
                break;
        }
    } catch (const kobito::EScratchSocketError&) {
        ScratchDisconnectOnError();
    }
}

void TForm1::HandleScratchMessage(const std::string& frame) {
    AddLog(LogScratch, LogRecv, QString::fromUtf8(frame.data(), qsizetype(frame.size())));
    std::vector<std::string> captions;
    captions.reserve(RemoteSlotCount);
    for (TButton* slot : dim_Remos)
        captions.push_back(slot->Caption().toStdString());
    const kobito::TScratchCommand command =
        kobito::InterpretScratchText(frame, VaComm1->Active(), captions);
    switch (command.Action) {
    case kobito::TScratchAction::LogOnly:
        return;
    case kobito::TScratchAction::Quit:
        if (Executing)
            btnRunClick();
        break;
    case kobito::TScratchAction::RunSlots:
        for (const int k : command.Slots) {
            // Cleared after the start: while its discard question is open, a
            // held list goes on holding instead of playing under the dialog.
            RunRemoteSlot(k);
            Playback.ListEndNotified = false;
        }
        break;
    case kobito::TScratchAction::RobotOffline:
    case kobito::TScratchAction::Unmatched:
        break;
    }
    AddLog(LogScratch, LogRecv, QString::fromStdString(command.ResultLine));
    Scratch3UpdateStatus();
}

void TForm1::ScratchDisconnectOnError() {
    try {
        IdTCPClient->Disconnect();
    } catch (const std::exception&) {
    }
    TmrScratch->stop();
    swiScratch->SetIsChecked(false);
    // A connection the peer closed gives no disconnected notification; the
    // label follows the switch all the same.
    lblScratch->setText(QStringLiteral("Scratch 未接続"));
    AddLog(LogScratch, LogSend, QStringLiteral("通信エラーにより切断"));
}

void TForm1::ScratchListEndNotification() {
    const std::string_view done = kobito::kScratchDoneText;
    try {
        IdTCPClient->Write(int32_t(done.size()));
        IdTCPClient->Write(done);
    } catch (const std::exception&) {
        ShowError(QStringLiteral("SCRATCHへの送信エラー"));
        AddLog(LogScratch, LogSend, QStringLiteral("送信エラー"));
    }
    AddLog(LogScratch, LogSend, QString::fromUtf8(done.data(), qsizetype(done.size())));
}

bool TForm1::ScratchConnected() {
    // Bytes the peer sent before it closed keep Connected true until the
    // bridge's tick has read them or dropped the connection; "Done" cannot
    // reach a peer that has gone, and the list then repeats as without the
    // bridge.
    return IdTCPClient->Connected() && IdTCPClient->IsOpen();
}

void TForm1::DisconnectScratch() {
    if (IdTCPClient->Connected())
        IdTCPClient->Disconnect();
}
