// Playback of the motion table on the robot, paced by its finished reply.
#include "uMain.h"

#include "Button.h"
#include "DialogService.h"

#include "MotionTable.h"
#include "PoseCommand.h"
#include "TextRules.h"
#include "VaComm.h"

#include <QStringConverter>
#include <QTimer>

#include <chrono>

namespace {
// Just under Timer1's 50 ms, so that a tick held back is rare and the line
// never sees two commands within 40 ms, with room for the jitter of the
// serial write.
constexpr qint64 kShortestTickNs = 48'000'000;

qint64 SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

// The window as the sequencer sees it.
class TForm1::PlaybackAdapter final : public kobito::PlaybackHost {
public:
    explicit PlaybackAdapter(TForm1& form) : f(form) {}

    int32_t Cell(int row, int column) override {
        return kobito::StrToIntDef(f.m_motionModel->cell(row, column), 0);
    }
    void SendPose(const std::array<int32_t, 16>& values) override {
        f.out_val = values;
        f.PlaybackSend(QString::fromStdString(kobito::BuildPoseCommand(values)));
    }
    void SendCommand(const std::string& text) override {
        f.PlaybackSend(QString::fromStdString(text));
    }
    void SelectRow(int row) override { f.SelectRow(row); }
    std::string ReadText() override { return f.VaComm1->ReadText(); }
    void LogReceived(const std::string& text) override {
        QStringDecoder decoder(QStringDecoder::System);
        f.AddLog(LogRobot, LogRecv,
                 decoder.decode(QByteArrayView(text.data(), qsizetype(text.size()))));
    }
    bool ScratchConnected() override {
        const bool scratch14 = f.ScratchConnected();
        return scratch14 || f.Scratch3HasClients();
    }
    // Both bridges hear of the same list end; Scratch 3 first, as 1.4's
    // failed send shows a message.
    void NotifyListEnd() override {
        f.Scratch3ListEnd();
        if (f.ScratchConnected())
            f.ScratchListEndNotification();
        f.Scratch3UpdateStatus();
    }

private:
    TForm1& f;
};

void TForm1::SetExecuting(bool running) {
    if (running == Executing)
        return;
    Executing = running;
    btnRun->setText(running ? QStringLiteral("中止 Break") : QStringLiteral("実行 Run"));
    UpdateControls();
    if (running) {
        // The last command of an earlier start still counts: a quick Break
        // and Run never sends two within one tick.
        Timer1->start();
    } else {
        StopPlaybackTicks();
        Scratch3PlayStopped();
    }
    Scratch3UpdateStatus();
}

void TForm1::StopPlaybackTicks() {
    Timer1->stop();
    if (m_tickHoldBack)
        m_tickHoldBack->stop();
}

void TForm1::RunMotion(bool start) {
    if (!start) {
        SetExecuting(false);
        return;
    }
    PlaybackAdapter host(*this);
    if (!kobito::TPlaybackSequencer::HasData(host)) {
        SetExecuting(false);
        ShowError(QStringLiteral("実行するデータがありません\r\nNo data available"));
        return;
    }
    // A Scratch 3 play waiting for its list end is replaced.
    Scratch3PlayStopped();
    // Row 0 goes on the next tick: one command a tick, whatever started it.
    SetExecuting(true);
    Playback.Restart();
}

void TForm1::btnRunClick() {
    if (!Executing)
        m_playingSlot.clear(); // the table as it stands, no slot's list
    RunMotion(!Executing);
}

void TForm1::Timer1Timer() {
    // A message shown during a tick runs the event loop, and the timer goes
    // on firing in it: one tick at a time.
    if (!Executing || m_inTick)
        return;
    // After a late tick the timer keeps its grid and so fires again early;
    // such a tick waits until kShortestTickNs have passed since the last
    // command was handed over, so two commands never leave closer, and the
    // grid is back after a few ticks.
    const qint64 since = SteadyNs() - m_lastHandOffNs;
    if (m_lastHandOffNs >= 0 && since < kShortestTickNs) {
        if (!m_tickHoldBack) {
            m_tickHoldBack = new QTimer(this);
            m_tickHoldBack->setSingleShot(true);
            m_tickHoldBack->setTimerType(Qt::PreciseTimer);
            connect(m_tickHoldBack, &QTimer::timeout, this, [this] { Timer1Timer(); });
        }
        if (!m_tickHoldBack->isActive()) {
            // Rounded up to whole milliseconds, the timer's unit.
            m_tickHoldBack->start(int((kShortestTickNs - since + 999'999) / 1'000'000));
        }
        return;
    }
    m_inTick = true;
    try {
        PlaybackTick();
    } catch (...) {
        m_inTick = false;
        throw;
    }
    m_inTick = false;
}

void TForm1::PlaybackTick() {
    // A controller that has gone takes nothing more: say so once and stop,
    // rather than queue polls that can never leave.
    if (VaComm1->DeviceGone()) {
        SetExecuting(false);
        ShowError(QStringLiteral("通信エラー\r\nComm error occured"));
        return;
    }
    PlaybackAdapter host(*this);
    Playback.Tick(host);
}

bool TForm1::PlaybackSend(const QString& text) {
    // Playback's commands are ASCII. A queue with no room means the line
    // takes nothing: waiting for it would stall the window on every tick.
    if (!VaComm1->CanWriteAtOnce(std::size_t(text.size()))) {
        SetExecuting(false);
        Dialogs().ShowException(this, QString::fromLatin1(kobito::kOutputBufferFull));
        return false;
    }
    m_lastHandOffNs = SteadyNs();
    if (m_handOffHook)
        m_handOffHook(text, m_lastHandOffNs);
    SendCommand(text);
    return true;
}

// Only records the reply; the next row waits for the next tick of Timer1.
void TForm1::PlaybackRxChar(int count) {
    PlaybackAdapter host(*this);
    Playback.Received(count, host);
}
