#include "Scratch3Json.h"

#include <charconv>

namespace kobito {

namespace {

// Length of the well-formed UTF-8 sequence at the start of s, 0 if none.
std::size_t Utf8SequenceLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (c == 0xE0 && b(1) < 0xA0)
            return 0; // overlong
        if (c == 0xED && b(1) >= 0xA0)
            return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (c == 0xF0 && b(1) < 0x90)
            return 0; // overlong
        if (c == 0xF4 && b(1) >= 0x90)
            return 0; // above U+10FFFF
        return 4;
    }
    return 0;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    std::optional<TJsonValue> Document() {
        SkipSpace();
        TJsonValue value;
        if (!Value(value, 0))
            return std::nullopt;
        SkipSpace();
        if (at_ != s_.size())
            return Fail("unexpected text after the value");
        return value;
    }

    std::string error;

private:
    std::nullopt_t Fail(const char* what) {
        if (error.empty())
            error = std::string(what) + " at byte " + std::to_string(at_);
        return std::nullopt;
    }
    bool FailB(const char* what) {
        Fail(what);
        return false;
    }

    void SkipSpace() {
        while (at_ < s_.size() &&
               (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
            ++at_;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(at_, word.size()) != word)
            return FailB("invalid literal");
        at_ += word.size();
        return true;
    }

    bool Value(TJsonValue& v, int depth) {
        if (at_ >= s_.size())
            return FailB("unexpected end");
        switch (s_[at_]) {
        case 'n':
            v.kind = TJsonValue::Kind::Null;
            return Literal("null");
        case 't':
            v.kind = TJsonValue::Kind::Bool;
            v.boolean = true;
            return Literal("true");
        case 'f':
            v.kind = TJsonValue::Kind::Bool;
            v.boolean = false;
            return Literal("false");
        case '"':
            v.kind = TJsonValue::Kind::String;
            return String(v.text);
        case '[':
            return Array(v, depth + 1);
        case '{':
            return Object(v, depth + 1);
        default:
            v.kind = TJsonValue::Kind::Number;
            return Number(v);
        }
    }

    bool Array(TJsonValue& v, int depth) {
        if (depth > kJsonMaxDepth)
            return FailB("nested too deeply");
        v.kind = TJsonValue::Kind::Array;
        ++at_;
        SkipSpace();
        if (at_ < s_.size() && s_[at_] == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            SkipSpace();
            v.items.emplace_back();
            if (!Value(v.items.back(), depth))
                return false;
            SkipSpace();
            if (at_ >= s_.size())
                return FailB("unexpected end in an array");
            if (s_[at_] == ']') {
                ++at_;
                return true;
            }
            if (s_[at_] != ',')
                return FailB("expected ',' or ']'");
            ++at_;
        }
    }

    bool Object(TJsonValue& v, int depth) {
        if (depth > kJsonMaxDepth)
            return FailB("nested too deeply");
        v.kind = TJsonValue::Kind::Object;
        ++at_;
        SkipSpace();
        if (at_ < s_.size() && s_[at_] == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (at_ >= s_.size() || s_[at_] != '"')
                return FailB("expected a member name");
            std::string name;
            if (!String(name))
                return false;
            SkipSpace();
            if (at_ >= s_.size() || s_[at_] != ':')
                return FailB("expected ':'");
            ++at_;
            SkipSpace();
            v.members.push_back(TJsonMember{std::move(name), TJsonValue{}});
            if (!Value(v.members.back().value, depth))
                return false;
            SkipSpace();
            if (at_ >= s_.size())
                return FailB("unexpected end in an object");
            if (s_[at_] == '}') {
                ++at_;
                return true;
            }
            if (s_[at_] != ',')
                return FailB("expected ',' or '}'");
            ++at_;
        }
    }

    bool Hex4(std::uint32_t& out) {
        if (s_.size() - at_ < 4)
            return FailB("short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= std::uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= std::uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= std::uint32_t(c - 'A' + 10);
            else
                return FailB("invalid \\u escape");
        }
        return true;
    }

    bool String(std::string& out) {
        ++at_; // opening quote
        for (;;) {
            if (at_ >= s_.size())
                return FailB("unterminated string");
            const unsigned char c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return FailB("control character in a string");
            if (c == '\\') {
                if (++at_ >= s_.size())
                    return FailB("unterminated escape");
                const char e = s_[at_++];
                switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!Hex4(cp))
                        return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF)
                        return FailB("lone low surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (s_.substr(at_, 2) != "\\u")
                            return FailB("lone high surrogate");
                        at_ += 2;
                        if (!Hex4(low))
                            return false;
                        if (low < 0xDC00 || low > 0xDFFF)
                            return FailB("lone high surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default:
                    return FailB("invalid escape");
                }
                continue;
            }
            const std::size_t n = Utf8SequenceLength(s_.substr(at_));
            if (n == 0)
                return FailB("invalid UTF-8");
            out.append(s_.substr(at_, n));
            at_ += n;
        }
    }

    bool Number(TJsonValue& v) {
        const std::size_t start = at_;
        const auto digit = [&] { return at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9'; };
        if (at_ < s_.size() && s_[at_] == '-')
            ++at_;
        if (!digit())
            return FailB("invalid value");
        if (s_[at_] == '0')
            ++at_;
        else
            while (digit())
                ++at_;
        bool whole = true;
        if (at_ < s_.size() && s_[at_] == '.') {
            whole = false;
            ++at_;
            if (!digit())
                return FailB("invalid number");
            while (digit())
                ++at_;
        }
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            whole = false;
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-'))
                ++at_;
            if (!digit())
                return FailB("invalid number");
            while (digit())
                ++at_;
        }
        if (whole) {
            std::int64_t value = 0;
            const char* first = s_.data() + start;
            const char* last = s_.data() + at_;
            const auto [end, ec] = std::from_chars(first, last, value);
            if (ec == std::errc() && end == last)
                v.integer = value;
        }
        return true;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

} // namespace

const TJsonValue* TJsonValue::Member(std::string_view name) const {
    const TJsonValue* found = nullptr;
    for (const TJsonMember& member : members)
        if (member.name == name)
            found = &member.value;
    return found;
}

std::optional<TJsonValue> ParseJson(std::string_view text, std::string* error) {
    Reader reader(text);
    std::optional<TJsonValue> value = reader.Document();
    if (error)
        *error = value ? std::string() : reader.error;
    return value;
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = Utf8SequenceLength(bytes);
        if (n == 0)
            return false;
        bytes.remove_prefix(n);
    }
    return true;
}

std::string JsonQuote(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    while (!utf8.empty()) {
        const unsigned char c = static_cast<unsigned char>(utf8[0]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            const std::size_t n = Utf8SequenceLength(utf8);
            if (n == 0) {
                out += "\xEF\xBF\xBD"; // U+FFFD for a stray byte
                utf8.remove_prefix(1);
                continue;
            }
            out.append(utf8.substr(0, n));
            utf8.remove_prefix(n);
            continue;
        }
        utf8.remove_prefix(1);
    }
    out += '"';
    return out;
}

} // namespace kobito
