#pragma once
// The Scratch 3 bridge's messages and handshake rules, without sockets: one
// JSON object per WebSocket text frame (see the README's "Scratch 3").
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kobito {

inline constexpr int kScratch3ProtocolVersion = 1;
inline constexpr std::uint16_t kScratch3DefaultPort = 42002;
// A message longer than this is refused ("too-large") and its connection closed (1009).
inline constexpr std::size_t kScratch3MaxMessage = 64 * 1024;
// WebSocket connections open at once; the next handshake gets 503.
inline constexpr int kScratch3MaxClients = 8;
// Ids are JavaScript numbers: integers beyond this lose their identity there.
inline constexpr std::int64_t kScratch3MaxId = (std::int64_t{1} << 53) - 1;

enum class TScratch3Type { Hello, Play, Stop };

struct TScratch3Request {
    TScratch3Type type = TScratch3Type::Hello;
    std::int64_t id = 0; // play
    std::string slot;    // play: the caption asked for
};

// Why a frame is not acted on. reason: "invalid-json", "unknown-type" or
// "bad-request". A play whose id could be read is answered with a result
// of that id; anything else with an "error" notification.
struct TScratch3Refusal {
    std::string reason;
    std::string message;
    std::optional<std::int64_t> id;
};

struct TScratch3Parsed {
    std::optional<TScratch3Request> request; // set when the frame asks for something
    TScratch3Refusal refusal;                // set otherwise
};

TScratch3Parsed ParseScratch3Request(std::string_view frame);

// What the program sends. Every text is valid JSON whatever the strings hold.
std::string Scratch3HelloReply(std::string_view version, std::span<const std::string> slots,
                               bool playing, bool portOpen);
// result: "done" or "stopped".
std::string Scratch3Result(std::int64_t id, std::string_view result);
std::string Scratch3ResultError(std::int64_t id, std::string_view reason, std::string_view message);
std::string Scratch3Slots(std::span<const std::string> slots);
std::string Scratch3Done(std::string_view slot);
std::string Scratch3Status(bool playing, bool portOpen);
std::string Scratch3Error(std::string_view reason, std::string_view message);
// The reply to a refused frame.
std::string Scratch3RefusalReply(const TScratch3Refusal& refusal);

// An Origin header in the form the settings file keeps it: letters in lower
// case; "null" stays "null". Nothing for a value that is no origin
// (scheme://host[:port] with no path), which is refused unasked.
std::optional<std::string> NormaliseScratch3Origin(std::string_view header);
// The editors allowed without a question: TurboWarp on the web and its
// desktop app, and pages served from this computer (http or https on
// 127.0.0.1, localhost or [::1], any port). origin as normalised.
bool IsKnownScratch3Origin(std::string_view origin);
// The Host header names this computer by its loopback address or
// "localhost", with the bridge's port; anything else may be a DNS rebinding.
bool IsScratch3HostAllowed(std::string_view host, std::uint16_t port);

} // namespace kobito
