#pragma once
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kobito {

// What a received Scratch text asks of the window, without any widget.
// Texts are UTF-8; "characters" are code points, and a byte that begins no
// well-formed UTF-8 sequence counts as one character.

// Number of characters in text.
std::size_t Utf8CharCount(std::string_view text);

// The first nine characters are exactly "broadcast".
bool IsScratchBroadcast(std::string_view text);

// The text from its 12th character up to, not including, its last: the
// name inside `broadcast "name"`. 12 characters or fewer give "".
std::string ScratchBroadcastName(std::string_view text);

// Stops playback; never matched against a slot caption.
inline constexpr std::string_view kScratchQuitName = "Quit";

struct TScratchMatch {
    bool Quit = false;
    // Every slot whose caption equals the name, ascending.
    std::vector<int> Slots;
    bool Matched() const { return Quit || !Slots.empty(); }
};

// Exact, case-sensitive comparison with each caption (UTF-8), indexed by
// slot. An empty name matches nothing, so an empty slot is never started
// from Scratch.
TScratchMatch MatchScratchName(std::string_view name, std::span<const std::string> captions);

enum class TScratchAction {
    LogOnly,      // not a broadcast: the received text is only logged
    RobotOffline, // a broadcast while the serial port is closed
    Quit,         // stop playback if it runs
    RunSlots,     // start Slots in order
    Unmatched     // a broadcast whose name fits nothing
};

struct TScratchCommand {
    TScratchAction Action = TScratchAction::LogOnly;
    std::string Name;       // set for Quit, RunSlots and Unmatched
    std::vector<int> Slots; // set for RunSlots
    // The log line that follows the received text once the action is done:
    // "KOBITO not connected", "<name> match" or "<name> unmatch"; empty for LogOnly.
    std::string ResultLine;
};

// One received text, decided: the caller logs the text, performs Action,
// then logs ResultLine when it is not empty.
TScratchCommand InterpretScratchText(std::string_view text, bool robotOpen,
                                     std::span<const std::string> captions);

} // namespace kobito
