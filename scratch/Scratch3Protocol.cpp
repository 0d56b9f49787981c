#include "Scratch3Protocol.h"

#include "Scratch3Json.h"

#include <algorithm>
#include <array>

namespace kobito {

namespace {

TScratch3Parsed Refuse(std::string reason, std::string message,
                       std::optional<std::int64_t> id = std::nullopt) {
    TScratch3Parsed out;
    out.refusal = {std::move(reason), std::move(message), id};
    return out;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

std::string SlotArray(std::span<const std::string> slots) {
    std::string out = "[";
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i > 0)
            out += ',';
        out += JsonQuote(slots[i]);
    }
    return out + "]";
}

const char* Bool(bool b) {
    return b ? "true" : "false";
}

} // namespace

TScratch3Parsed ParseScratch3Request(std::string_view frame) {
    std::string error;
    const std::optional<TJsonValue> value = ParseJson(frame, &error);
    if (!value)
        return Refuse("invalid-json", "not JSON: " + error);
    if (value->kind != TJsonValue::Kind::Object)
        return Refuse("bad-request", "a message is a JSON object");
    const TJsonValue* type = value->Member("type");
    if (type == nullptr || type->kind != TJsonValue::Kind::String)
        return Refuse("bad-request", "\"type\" must be a string");

    TScratch3Parsed out;
    if (type->text == "hello") {
        out.request = TScratch3Request{TScratch3Type::Hello, 0, {}};
        return out;
    }
    if (type->text == "stop") {
        out.request = TScratch3Request{TScratch3Type::Stop, 0, {}};
        return out;
    }
    if (type->text != "play")
        return Refuse("unknown-type", "unknown type " + JsonQuote(type->text));

    const TJsonValue* id = value->Member("id");
    if (id == nullptr || id->kind != TJsonValue::Kind::Number || !id->integer ||
        *id->integer > kScratch3MaxId || *id->integer < -kScratch3MaxId)
        return Refuse("bad-request", "\"id\" must be an integer");
    const TJsonValue* slot = value->Member("slot");
    if (slot == nullptr || slot->kind != TJsonValue::Kind::String)
        return Refuse("bad-request", "\"slot\" must be a string", *id->integer);
    out.request = TScratch3Request{TScratch3Type::Play, *id->integer, slot->text};
    return out;
}

std::string Scratch3HelloReply(std::string_view version, std::span<const std::string> slots,
                               bool playing, bool portOpen) {
    return "{\"type\":\"hello\",\"version\":" + JsonQuote(version) +
           ",\"protocol\":" + std::to_string(kScratch3ProtocolVersion) +
           ",\"slots\":" + SlotArray(slots) + ",\"playing\":" + Bool(playing) +
           ",\"portOpen\":" + Bool(portOpen) + "}";
}

std::string Scratch3Result(std::int64_t id, std::string_view result) {
    return "{\"type\":\"result\",\"id\":" + std::to_string(id) +
           ",\"result\":" + JsonQuote(result) + "}";
}

std::string Scratch3ResultError(std::int64_t id, std::string_view reason,
                                std::string_view message) {
    return "{\"type\":\"result\",\"id\":" + std::to_string(id) +
           ",\"result\":\"error\",\"reason\":" + JsonQuote(reason) +
           ",\"message\":" + JsonQuote(message) + "}";
}

std::string Scratch3Slots(std::span<const std::string> slots) {
    return "{\"type\":\"slots\",\"slots\":" + SlotArray(slots) + "}";
}

std::string Scratch3Done(std::string_view slot) {
    return "{\"type\":\"done\",\"slot\":" + JsonQuote(slot) + "}";
}

std::string Scratch3Status(bool playing, bool portOpen) {
    return std::string("{\"type\":\"status\",\"playing\":") + Bool(playing) +
           ",\"portOpen\":" + Bool(portOpen) + "}";
}

std::string Scratch3Error(std::string_view reason, std::string_view message) {
    return "{\"type\":\"error\",\"reason\":" + JsonQuote(reason) +
           ",\"message\":" + JsonQuote(message) + "}";
}

std::string Scratch3RefusalReply(const TScratch3Refusal& refusal) {
    if (refusal.id)
        return Scratch3ResultError(*refusal.id, refusal.reason, refusal.message);
    return Scratch3Error(refusal.reason, refusal.message);
}

std::optional<std::string> NormaliseScratch3Origin(std::string_view header) {
    // Longer than any host name can make it.
    if (header.empty() || header.size() > 300)
        return std::nullopt;
    std::string origin = Lower(header);
    if (origin == "null")
        return origin;
    const std::size_t sep = origin.find("://");
    if (sep == std::string::npos || sep == 0)
        return std::nullopt;
    const auto isAlpha = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!isAlpha(origin[0]))
        return std::nullopt;
    for (std::size_t i = 0; i < sep; ++i) {
        const char c = origin[i];
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    std::string_view rest = std::string_view(origin).substr(sep + 3);
    // host: a bracketed IPv6 address or a name of letters, digits, '.', '-', '_', '~'
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest[0] == '[') {
        hostEnd = rest.find(']');
        if (hostEnd == std::string_view::npos || hostEnd == 1)
            return std::nullopt;
        for (std::size_t i = 1; i < hostEnd; ++i) {
            const char c = rest[i];
            if (!isDigit(c) && !(c >= 'a' && c <= 'f') && c != ':' && c != '.')
                return std::nullopt;
        }
        ++hostEnd;
    } else {
        while (hostEnd < rest.size()) {
            const char c = rest[hostEnd];
            if (!isAlpha(c) && !isDigit(c) && c != '.' && c != '-' && c != '_' && c != '~')
                break;
            ++hostEnd;
        }
        if (hostEnd == 0)
            return std::nullopt;
    }
    std::string_view port = rest.substr(hostEnd);
    if (!port.empty()) {
        if (port[0] != ':' || port.size() < 2 || port.size() > 6)
            return std::nullopt;
        if (!std::all_of(port.begin() + 1, port.end(), isDigit))
            return std::nullopt;
    }
    return origin;
}

bool IsKnownScratch3Origin(std::string_view origin) {
    // TurboWarp's editor on the web (and its mirror and test sites) and in
    // its desktop app, whose pages come from its own "tw-editor" scheme.
    static constexpr std::array<std::string_view, 5> kEditors = {
        "https://turbowarp.org", "https://staging.turbowarp.org",
        "https://experiments.turbowarp.org", "https://mirror.turbowarp.xyz", "tw-editor://."};
    if (std::find(kEditors.begin(), kEditors.end(), origin) != kEditors.end())
        return true;
    // A page from this computer: a school's own copy of an editor.
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (origin.substr(0, scheme.size()) != scheme)
            continue;
        std::string_view host = origin.substr(scheme.size());
        for (const std::string_view local : {"127.0.0.1", "localhost", "[::1]"}) {
            if (host.substr(0, local.size()) != local)
                continue;
            const std::string_view port = host.substr(local.size());
            if (port.empty() || port[0] == ':')
                return true;
        }
    }
    return false;
}

bool IsScratch3HostAllowed(std::string_view host, std::uint16_t port) {
    // Compared in pieces: GCC 12 at -O3 warns falsely on "literal" + string.
    const std::string h = Lower(host);
    const std::string p = std::to_string(port);
    const std::size_t colon = h.rfind(':');
    if (colon == std::string::npos || std::string_view(h).substr(colon + 1) != p)
        return false;
    const std::string_view name = std::string_view(h).substr(0, colon);
    return name == "127.0.0.1" || name == "localhost";
}

} // namespace kobito
