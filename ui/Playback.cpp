// Playback of the motion table on the robot, paced by its finished reply.
#include "uMain.h"

#include "Button.h"

#include "MotionTable.h"
#include "TextRules.h"
#include "VaComm.h"

#include <QStringConverter>
#include <QTimer>

namespace {
// Just under Timer1's 50 ms, so that a tick held back is rare and the line
// never sees two commands within 40 ms, with room for the jitter of the
// serial write.
constexpr qint64 kShortestTickNs = 48'000'000;
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
        f.SendPose();
    }
    void SendCommand(const std::string& text) override {
        f.SendCommand(QString::fromStdString(text));
    }
    void SelectRow(int row) override { f.SelectRow(row); }
    std::string ReadText() override { return f.VaComm1->ReadText(); }
    void LogReceived(const std::string& text) override {
        QStringDecoder decoder(QStringDecoder::System);
        f.AddLog(LogRobot, LogRecv,
                 decoder.decode(QByteArrayView(text.data(), qsizetype(text.size()))));
    }
    bool ScratchConnected() override { return f.ScratchConnected(); }
    void NotifyListEnd() override { f.ScratchListEndNotification(); }

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
        ++m_playbackStarts;
        m_tickClock.start();
        m_lastTickNs = -1;
        Timer1->start();
    } else {
        Timer1->stop();
    }
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
    // Row 0 goes on the next tick: one command a tick, whatever started it.
    SetExecuting(true);
    Playback.Restart();
}

void TForm1::btnRunClick() {
    RunMotion(!Executing);
}

void TForm1::Timer1Timer() {
    if (!Executing)
        return;
    // After a late tick the timer keeps its grid and so fires again early;
    // such a tick waits until kShortestTickNs have passed, so two commands
    // never leave closer, and the grid is back after a few ticks.
    const qint64 since = m_tickClock.nsecsElapsed() - m_lastTickNs;
    if (m_lastTickNs >= 0 && since < kShortestTickNs) {
        if (!m_tickHeldBack) {
            m_tickHeldBack = true;
            // Rounded up to whole milliseconds, the timer's unit.
            const int wait = int((kShortestTickNs - since + 999'999) / 1'000'000);
            QTimer::singleShot(wait, Qt::PreciseTimer, this, [this, start = m_playbackStarts] {
                m_tickHeldBack = false;
                if (start == m_playbackStarts)
                    Timer1Timer();
            });
        }
        return;
    }
    m_lastTickNs = m_tickClock.nsecsElapsed();
    PlaybackAdapter host(*this);
    Playback.Tick(host);
}

// Only records the reply; the next row waits for the next tick of Timer1.
void TForm1::PlaybackRxChar(int count) {
    PlaybackAdapter host(*this);
    Playback.Received(count, host);
}
