#include "Playback.h"

namespace kobito {

void TPlaybackSequencer::Tick(PlaybackHost& host) {
    if (!MotionDone || ListEndNotified) {
        host.SendCommand("#Q");
        PolledSinceRow = true;
        return;
    }
    const int row = NextMotion;
    std::array<int32_t, 16> values{};
    for (int c = 0; c < 16; ++c)
        values[static_cast<size_t>(c)] = host.Cell(row, c + 1);
    host.SendPose(values);
    MotionDone = false;
    PolledSinceRow = false;
    host.SelectRow(row);
    NextMotion = row + 1;
    if (NextMotion >= MotionRows || host.Cell(NextMotion, TimeColumn) == 0)
        NextMotion = 0;
}

void TPlaybackSequencer::Received(int count, PlaybackHost& host) {
    // A reply may come in pieces: below 7 bytes nothing is read yet.
    if (count < 7) {
        // Appended, not "(" + text: GCC 12 at -O3 warns falsely on that form.
        host.LogReceived(std::string("(").append(std::to_string(count)).append(")"));
        return;
    }
    const std::string text = host.ReadText();
    // Only the answer to a poll sent after the last row says the robot has
    // finished it; a late answer to an earlier poll is only logged.
    if (text == FinishedReply && PolledSinceRow) {
        MotionDone = true;
        if (host.ScratchConnected() && NextMotion == 0 && !ListEndNotified) {
            // Set first: a failed notification shows a modal box whose event
            // loop runs ticks, and those must hold, not replay row 0.
            ListEndNotified = true;
            host.NotifyListEnd();
        }
    }
    host.LogReceived(text);
}

} // namespace kobito
