#pragma once
// Tests reach the window's private state through this friend.
#include "uMain.h"

#include <QDateTime>

struct TForm1Access {
    TForm1& f;
    explicit TForm1Access(TForm1& form) : f(form) {}

    bool DataChanged() const { return f.DataChanged; }
    void SetDataChanged(bool on) { f.SetDataChanged(on); }
    bool Executing() const { return f.Executing; }
    const std::array<int32_t, 16>& out_val() const { return f.out_val; }
    const auto& dim_edit() const { return f.dim_edit; }
    const auto& dim_track_bar() const { return f.dim_track_bar; }
    const auto& dim_arc() const { return f.dim_arc; }
    const auto& dim_arc_range() const { return f.dim_arc_range; }
    const auto& Quick1Combos() const { return f.Quick1Combos; }
    const auto& dim_Remos() const { return f.dim_Remos; }
    const auto& dim_Remos_del() const { return f.dim_Remos_del; }
    const auto& dim_Remos_SL() const { return f.dim_Remos_SL; }
    const auto& dim_Remos_path() const { return f.dim_Remos_path; }
    const auto& walkingButtons() const { return f.m_walkingButtons; }
    kobito::MotionTableModel* motionModel() const { return f.m_motionModel; }
    QString IniFilename() const { return f.IniFilename; }
    float GrdRangeFullW() const { return f.GrdRangeFullW; }
    uint32_t DefaultColor() const { return f.DefaultColor; }
    int SelectedRow() const { return f.SelectedRow(); }
    void SelectRow(int row) { f.SelectRow(row); }
    bool IsDestroyed() const { return f.m_destroyed; }
    void AddLog(int source, int kind, const QString& text) { f.AddLog(source, kind, text); }
    static QString LogStamp(const QDateTime& now) { return TForm1::LogStamp(now); }
    void btnTestClick() { f.btnTestClick(); }
    QFileDialog* MotionFileDialog(bool save) { return f.MotionFileDialog(save); }
    const kobito::TPlaybackSequencer& Playback() const { return f.Playback; }
    void Timer1Timer() { f.Timer1Timer(); }
    // Called with each command playback hands to the serial component and
    // when it did, in steady-clock ns.
    void OnPlaybackHandOff(std::function<void(const QString&, qint64)> hook) {
        f.m_handOffHook = std::move(hook);
    }
    // Tests point the bridge at their own Scratch peer.
    void SetScratchPort(uint16_t port);
    // The Scratch 3 bridge's port as set (0: any free port, for tests) and as it listens.
    int Scratch3Port() const { return f.Scratch3Port; }
    void SetScratch3Port(uint16_t port) { f.Scratch3Port = port; }
    uint16_t Scratch3ListeningPort() const;
    QString Cell(int row, int col) const;
    void SetCell(int row, int col, const QString& text);
    // Rows as they would be played: one text per row, values joined by commas.
    QString RowText(int row) const;
    const RobotPicture& picture() const { return f.m_picture; }
};

// Brings a tab of the window to the front, as a click on its header would.
void TabTo(TForm1& form, const char* tabName);

// Removes the settings file beside the test program, so that every window
// starts from the defaults; declare it before the window in a fixture.
struct FreshSettings {
    FreshSettings();
};
