// Scratch's message stream in arbitrary pieces. The frames found by
// checking an accumulating buffer after each piece, and those the client
// reads from a loopback connection fed piece by piece, equal the frames of
// the whole stream taken at once; each received text is then decided as the
// window would.
//
// Input: byte 0 holds in its low 4 bits the number k of piece sizes that
// follow (each byte + 1, used in turn) and in bit 4 whether the robot port is
// open; bit 5 skips the client, so most inputs stay in memory. The rest is
// the stream.
#include "FuzzCheck.h"

#include "ScratchBridge.h"
#include "ScratchClient.h"
#include "ScratchFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace kobito;

namespace {

enum class End { Clean, Partial, TooLong };

struct Parsed {
    std::vector<std::string> frames;
    End end = End::Clean;
};

// The whole stream at once.
Parsed ParseWhole(std::string_view stream) {
    Parsed out;
    for (;;) {
        const TScratchFrameCheck check = CheckScratchFrame(stream);
        if (check.State == TScratchFrameState::TooLong) {
            FUZZ_CHECK(check.Length > kScratchMaxTextLength);
            out.end = End::TooLong;
            return out;
        }
        if (check.State == TScratchFrameState::Incomplete) {
            out.end = stream.empty() ? End::Clean : End::Partial;
            return out;
        }
        FUZZ_CHECK(check.FrameSize == kScratchHeaderSize + std::size_t(check.Length));
        FUZZ_CHECK(check.FrameSize <= stream.size());
        out.frames.emplace_back(stream.substr(kScratchHeaderSize, std::size_t(check.Length)));
        stream.remove_prefix(check.FrameSize);
    }
}

// Pieces appended to a buffer, complete frames taken after each.
Parsed ParsePieces(const std::vector<std::string_view>& pieces) {
    Parsed out;
    std::string buffer;
    for (const std::string_view piece : pieces) {
        buffer += piece;
        for (;;) {
            const TScratchFrameCheck check = CheckScratchFrame(buffer);
            if (check.State == TScratchFrameState::TooLong) {
                out.end = End::TooLong;
                return out;
            }
            if (check.State == TScratchFrameState::Incomplete)
                break;
            out.frames.push_back(buffer.substr(kScratchHeaderSize, std::size_t(check.Length)));
            buffer.erase(0, check.FrameSize);
        }
    }
    out.end = buffer.empty() ? End::Clean : End::Partial;
    return out;
}

class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        FUZZ_CHECK(fd_ >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        FUZZ_CHECK(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        FUZZ_CHECK(::listen(fd_, 4) == 0);
        socklen_t size = sizeof address;
        FUZZ_CHECK(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    std::uint16_t Port() const { return port_; }
    int Accept() const {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        return fd;
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        FUZZ_CHECK(n > 0);
        bytes.remove_prefix(std::size_t(n));
    }
}

// The client as the window's Scratch tick uses it: frames taken without
// waiting after each piece, then the peer closes and what is left drains.
Parsed ReadThroughClient(const std::vector<std::string_view>& pieces) {
    static const Listener listener;
    Parsed out;
    TScratchClient client;
    client.Port = listener.Port();
    client.Connect();
    const int peer = listener.Accept();
    try {
        std::string text;
        for (const std::string_view piece : pieces) {
            SendAll(peer, piece);
            while (client.TryReadFrame(text))
                out.frames.push_back(text);
        }
        ::close(peer);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (client.Connected()) {
            while (client.TryReadFrame(text))
                out.frames.push_back(text);
            // The close may still be on its way.
            FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
            ::poll(nullptr, 0, 1);
        }
    } catch (const EScratchProtocolError&) {
        ::close(peer);
        out.end = End::TooLong;
        return out;
    } catch (const EScratchSocketError&) {
        out.end = End::Partial;
        return out;
    }
    out.end = End::Clean;
    return out;
}

void CheckCommand(const std::string& text, bool robotOpen, std::span<const std::string> captions) {
    const TScratchCommand command = InterpretScratchText(text, robotOpen, captions);
    switch (command.Action) {
    case TScratchAction::LogOnly:
        FUZZ_CHECK(!IsScratchBroadcast(text));
        FUZZ_CHECK(command.ResultLine.empty());
        break;
    case TScratchAction::RobotOffline:
        FUZZ_CHECK(!robotOpen);
        FUZZ_CHECK(!command.ResultLine.empty());
        break;
    case TScratchAction::Quit:
        FUZZ_CHECK(robotOpen && command.Name == kScratchQuitName);
        FUZZ_CHECK(command.ResultLine == command.Name + " match");
        break;
    case TScratchAction::RunSlots:
        FUZZ_CHECK(robotOpen && !command.Slots.empty());
        FUZZ_CHECK(std::is_sorted(command.Slots.begin(), command.Slots.end()));
        for (const int slot : command.Slots) {
            FUZZ_CHECK(slot >= 0 && std::size_t(slot) < captions.size());
            FUZZ_CHECK(captions[std::size_t(slot)] == command.Name);
        }
        FUZZ_CHECK(command.ResultLine == command.Name + " match");
        break;
    case TScratchAction::Unmatched:
        FUZZ_CHECK(robotOpen);
        for (const std::string& caption : captions)
            FUZZ_CHECK(command.Name.empty() || caption != command.Name);
        FUZZ_CHECK(command.ResultLine == command.Name + " unmatch");
        break;
    }
    if (command.Action != TScratchAction::LogOnly && command.Action != TScratchAction::RobotOffline)
        FUZZ_CHECK(IsScratchBroadcast(text) && command.Name == ScratchBroadcastName(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const std::size_t sizeCount = std::min<std::size_t>(flags & 0x0F, size - 1);
    const bool robotOpen = (flags & 0x10) != 0;
    const bool viaClient = (flags & 0x20) == 0;
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < sizeCount; ++i)
        sizes.push_back(std::size_t(data[1 + i]) + 1);
    if (sizes.empty())
        sizes.push_back(std::size_t(-1));
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + sizeCount,
                                  size - 1 - sizeCount);

    std::vector<std::string_view> pieces;
    for (std::size_t at = 0, k = 0; at < stream.size(); ++k) {
        const std::size_t n = std::min(sizes[k % sizes.size()], stream.size() - at);
        pieces.push_back(stream.substr(at, n));
        at += n;
    }

    const Parsed whole = ParseWhole(stream);
    const Parsed pieced = ParsePieces(pieces);
    FUZZ_CHECK(pieced.frames == whole.frames);
    FUZZ_CHECK(pieced.end == whole.end);

    if (viaClient) {
        const Parsed received = ReadThroughClient(pieces);
        FUZZ_CHECK(received.frames == whole.frames);
        FUZZ_CHECK(received.end == whole.end);
    }

    static const std::vector<std::string> captions = {
        "Walk", "", "歩く", "Quit", "Walk", "a\"b", std::string("\0x", 2), "\xE6\xAD", "Done", ""};
    for (const std::string& text : whole.frames)
        CheckCommand(text, robotOpen, captions);
    return 0;
}
