#include "ScratchBridge.h"

#include <utility>

namespace kobito {

namespace {

constexpr std::string_view kBroadcast = "broadcast";
// Characters before the name: the word, a blank and the opening quote.
constexpr std::size_t kNameStart = 11;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes of the character that starts at text[at].
std::size_t CharSize(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t size = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        size = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        size = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        size = 4;
    if (at + size > text.size())
        return 1;
    for (std::size_t i = 1; i < size; ++i)
        if (!IsContinuation(static_cast<unsigned char>(text[at + i])))
            return 1;
    return size;
}

} // namespace

std::size_t Utf8CharCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at += CharSize(text, at))
        ++count;
    return count;
}

bool IsScratchBroadcast(std::string_view text) {
    // ASCII bytes stand only for themselves in UTF-8, so nine characters
    // equal to "broadcast" are its nine bytes.
    return text.starts_with(kBroadcast);
}

std::string ScratchBroadcastName(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size(); at += CharSize(text, at))
        starts.push_back(at);
    if (starts.size() <= kNameStart + 1)
        return {};
    const std::size_t begin = starts[kNameStart];
    const std::size_t end = starts.back();
    return std::string(text.substr(begin, end - begin));
}

TScratchMatch MatchScratchName(std::string_view name, std::span<const std::string> captions) {
    TScratchMatch match;
    if (name == kScratchQuitName) {
        match.Quit = true;
        return match;
    }
    if (name.empty())
        return match;
    for (std::size_t k = 0; k < captions.size(); ++k)
        if (captions[k] == name)
            match.Slots.push_back(static_cast<int>(k));
    return match;
}

TScratchCommand InterpretScratchText(std::string_view text, bool robotOpen,
                                     std::span<const std::string> captions) {
    TScratchCommand command;
    if (!IsScratchBroadcast(text))
        return command;
    if (!robotOpen) {
        command.Action = TScratchAction::RobotOffline;
        command.ResultLine = "KOBITO not connected";
        return command;
    }
    command.Name = ScratchBroadcastName(text);
    TScratchMatch match = MatchScratchName(command.Name, captions);
    if (match.Quit)
        command.Action = TScratchAction::Quit;
    else if (!match.Slots.empty())
        command.Action = TScratchAction::RunSlots;
    else
        command.Action = TScratchAction::Unmatched;
    command.ResultLine = command.Name + (match.Matched() ? " match" : " unmatch");
    command.Slots = std::move(match.Slots);
    return command;
}

} // namespace kobito
