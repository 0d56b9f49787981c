#include "ScratchFrame.h"

#include <stdexcept>

namespace kobito {

std::int32_t DecodeScratchLength(std::string_view fourBytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < kScratchHeaderSize; ++i)
        value = (value << 8) | static_cast<unsigned char>(fourBytes[i]);
    return static_cast<std::int32_t>(value);
}

std::string EncodeScratchLength(std::int32_t length) {
    const auto value = static_cast<std::uint32_t>(length);
    std::string out(kScratchHeaderSize, '\0');
    for (std::size_t i = 0; i < kScratchHeaderSize; ++i)
        out[i] = static_cast<char>((value >> (8 * (kScratchHeaderSize - 1 - i))) & 0xFF);
    return out;
}

std::string ScratchFrame(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("message text too long for its length field");
    std::string out = EncodeScratchLength(static_cast<std::int32_t>(text.size()));
    out.append(text);
    return out;
}

std::string ScratchDoneFrame() {
    return ScratchFrame(kScratchDoneText);
}

TScratchFrameCheck CheckScratchFrame(std::string_view buffered) {
    TScratchFrameCheck check;
    if (buffered.size() < kScratchHeaderSize)
        return check;
    const std::int32_t length = DecodeScratchLength(buffered);
    if (length > kScratchMaxTextLength) {
        check.State = TScratchFrameState::TooLong;
        check.Length = length;
        return check;
    }
    check.Length = length > 0 ? length : 0;
    const std::size_t size = kScratchHeaderSize + static_cast<std::size_t>(check.Length);
    if (buffered.size() >= size) {
        check.State = TScratchFrameState::Complete;
        check.FrameSize = size;
    }
    return check;
}

} // namespace kobito
