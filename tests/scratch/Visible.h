#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace kobito {

// A text on one line of ASCII, for test names: other bytes as \xHH.
inline std::string Visible(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out + "\"";
}

} // namespace kobito
