// What a Scratch 3 client can put in a frame or a handshake header. A frame
// is read as a request or refused with one of the documented reasons, and
// every text the program would send back is JSON that reads back to what
// went in; an origin the settings file would keep holds nothing that could
// break a line of it.
//
// Input: the whole input is the frame, and also the Origin and Host header.
#include "FuzzCheck.h"

#include "Scratch3Json.h"
#include "Scratch3Protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace kobito;

namespace {

// The reply parses, is of the expected type and carries the reason.
void CheckReply(const std::string& reply, std::string_view type, std::string_view reason) {
    const auto json = ParseJson(reply);
    FUZZ_CHECK(json && json->kind == TJsonValue::Kind::Object);
    const TJsonValue* t = json->Member("type");
    FUZZ_CHECK(t && t->text == type);
    if (!reason.empty()) {
        const TJsonValue* r = json->Member("reason");
        FUZZ_CHECK(r && r->text == reason);
    }
}

void CheckFrame(std::string_view frame) {
    std::string error;
    const auto json = ParseJson(frame, &error);
    FUZZ_CHECK(json.has_value() == error.empty());
    if (!json)
        FUZZ_CHECK(error.find(" at byte ") != std::string::npos);

    const TScratch3Parsed parsed = ParseScratch3Request(frame);
    if (parsed.request) {
        FUZZ_CHECK(json && json->kind == TJsonValue::Kind::Object);
        const TScratch3Request& r = *parsed.request;
        FUZZ_CHECK(IsValidUtf8(r.slot));
        if (r.type == TScratch3Type::Play) {
            FUZZ_CHECK(r.id >= -kScratch3MaxId && r.id <= kScratch3MaxId);
            const auto result = ParseJson(Scratch3Result(r.id, "done"));
            FUZZ_CHECK(result && result->Member("id")->integer == r.id);
            CheckReply(Scratch3ResultError(r.id, "unknown-slot", "no slot is named " + r.slot),
                       "result", "unknown-slot");
            const auto done = ParseJson(Scratch3Done(r.slot));
            FUZZ_CHECK(done && done->Member("slot")->text == r.slot);
        } else {
            FUZZ_CHECK(r.slot.empty() && r.id == 0);
        }
        return;
    }
    static const std::vector<std::string> reasons = {"invalid-json", "unknown-type", "bad-request"};
    const TScratch3Refusal& refusal = parsed.refusal;
    FUZZ_CHECK(std::find(reasons.begin(), reasons.end(), refusal.reason) != reasons.end());
    FUZZ_CHECK(!refusal.message.empty());
    FUZZ_CHECK((refusal.reason == "invalid-json") == !json);
    if (refusal.id)
        FUZZ_CHECK(refusal.reason == "bad-request");
    CheckReply(Scratch3RefusalReply(refusal), refusal.id ? "result" : "error", refusal.reason);
}

void CheckText(std::string_view text) {
    // Any caption goes out as JSON; valid UTF-8 comes back unchanged.
    const auto quoted = ParseJson(JsonQuote(text));
    FUZZ_CHECK(quoted && quoted->kind == TJsonValue::Kind::String);
    FUZZ_CHECK(IsValidUtf8(quoted->text));
    if (IsValidUtf8(text))
        FUZZ_CHECK(quoted->text == text);
    const std::vector<std::string> slots(15, std::string(text));
    const auto hello = ParseJson(Scratch3HelloReply(text, slots, true, false));
    FUZZ_CHECK(hello && hello->Member("slots")->items.size() == 15);
    CheckReply(Scratch3Error("bad-request", text), "error", "bad-request");
}

void CheckHeaders(std::string_view value) {
    const auto origin = NormaliseScratch3Origin(value);
    if (origin) {
        // A key of the settings file: no line break, no '=', no section or comment start.
        for (const char c : *origin) {
            FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 &&
                       static_cast<unsigned char>(c) < 0x7F);
            FUZZ_CHECK(c != '=' && c != ';' && !(c >= 'A' && c <= 'Z'));
        }
        FUZZ_CHECK(!origin->empty() && origin->front() != '[');
        FUZZ_CHECK(NormaliseScratch3Origin(*origin) == origin);
        (void)IsKnownScratch3Origin(*origin);
    }
    if (IsScratch3HostAllowed(value, 42002)) {
        std::string lower(value);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        FUZZ_CHECK(lower == "127.0.0.1:42002" || lower == "localhost:42002");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckFrame(input);
    CheckText(input);
    CheckHeaders(input);
    return 0;
}
