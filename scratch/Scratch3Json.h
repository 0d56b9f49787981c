#pragma once
// A small JSON reader and writer for the Scratch 3 bridge's frames: one
// object per frame, at most 64 KB, so a tree of values is cheap. Strict
// (RFC 8259): anything else is refused with a reason, never guessed at.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kobito {

struct TJsonMember;

struct TJsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    // A number written as an integer (no fraction, no exponent) that fits in
    // 64 bits; other numbers are kept only as valid.
    std::optional<std::int64_t> integer;
    std::string text; // String: the decoded UTF-8
    std::vector<TJsonValue> items;
    std::vector<TJsonMember> members;

    // The last member of that name, as JavaScript's JSON.parse keeps it; null if none.
    const TJsonValue* Member(std::string_view name) const;
};

struct TJsonMember {
    std::string name;
    TJsonValue value;
};

// Nesting deeper than this is refused: the reader recurses.
inline constexpr int kJsonMaxDepth = 32;

// The value the whole text holds (white space around it allowed), or nothing
// with *error saying what is wrong and where.
std::optional<TJsonValue> ParseJson(std::string_view text, std::string* error = nullptr);

// A JSON string literal, quotes included. Bytes that are not well-formed
// UTF-8 become U+FFFD, so the result is always valid JSON.
std::string JsonQuote(std::string_view utf8);

// Whether bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool IsValidUtf8(std::string_view bytes);

} // namespace kobito
