#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kobito {

// Scratch's remote-sensor messages: a 4-byte big-endian signed length, then
// that many bytes of UTF-8 text. Frames follow each other with no separator.

// Longest text accepted from the peer. Scratch's messages are short; a larger
// length means a broken peer, and waiting for (or allocating) it would be worse.
inline constexpr std::int32_t kScratchMaxTextLength = 1 << 20;

// Bytes of the length field.
inline constexpr std::size_t kScratchHeaderSize = 4;

// The one message the program sends.
inline constexpr std::string_view kScratchDoneText = "broadcast \"Done\"";

std::int32_t DecodeScratchLength(std::string_view fourBytes);
std::string EncodeScratchLength(std::int32_t length);

// Length field and text; text must be shorter than 2 GiB.
std::string ScratchFrame(std::string_view text);
// 00 00 00 10 and `broadcast "Done"`.
std::string ScratchDoneFrame();

enum class TScratchFrameState {
    Incomplete, // more bytes are needed
    Complete,   // FrameSize bytes make one frame
    TooLong     // the length field exceeds kScratchMaxTextLength
};

struct TScratchFrameCheck {
    TScratchFrameState State = TScratchFrameState::Incomplete;
    // Whole frame, length field included; set when Complete.
    std::size_t FrameSize = 0;
    // Text bytes: 0 for a length field of 0 or less; set unless Incomplete
    // before the length field is there.
    std::int32_t Length = 0;
};

// Looks at the start of buffered bytes. A length of 0 or less is a complete
// frame of 4 bytes with an empty text.
TScratchFrameCheck CheckScratchFrame(std::string_view buffered);

} // namespace kobito
