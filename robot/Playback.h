#pragma once
// The playback sequencer: sends the motion table's rows to the robot one at a
// time, each once the robot has reported the previous move finished, and
// starts again at row 0 after the last row whose move time is not 0.

#include <array>
#include <cstdint>
#include <string>

namespace kobito {

// What the sequencer needs of the window.
class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;
    // The cell of a table row (column 1..16 = channel 0..15) as an integer;
    // text that does not convert counts as 0.
    virtual int32_t Cell(int row, int column) = 0;
    virtual void SendPose(const std::array<int32_t, 16>& values) = 0;
    virtual void SendCommand(const std::string& text) = 0;
    virtual void SelectRow(int row) = 0;
    // Every byte waiting on the serial port.
    virtual std::string ReadText() = 0;
    virtual void LogReceived(const std::string& text) = 0;
    virtual bool ScratchConnected() = 0;
    // Tells Scratch the list has been played through.
    virtual void NotifyListEnd() = 0;
};

inline constexpr int MotionRows = 100;
inline constexpr int TimeColumn = 16;
inline constexpr const char* FinishedReply = "#QPT000";

class TPlaybackSequencer {
public:
    bool MotionDone = false;
    int NextMotion = 0;
    bool ListEndNotified = false;
    // A poll has gone out since the last row: only a reply to such a poll
    // can mean the robot finished that row.
    bool PolledSinceRow = false;

    // Whether a start has anything to play: row 0's move time is not 0.
    static bool HasData(PlaybackHost& host) { return host.Cell(0, TimeColumn) != 0; }
    // Starts (or restarts) at row 0 without waiting for the robot.
    void Restart() {
        NextMotion = 0;
        MotionDone = true;
        PolledSinceRow = false;
    }
    // One timer step: the next row, or a poll while the robot moves.
    void Tick(PlaybackHost& host);
    // Bytes have arrived while playing; count is how many wait.
    void Received(int count, PlaybackHost& host);
};

} // namespace kobito
