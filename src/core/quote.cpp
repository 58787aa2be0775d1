#include "core/quote.hpp"

#include <cstdint>
#include <cstdio>

namespace vardelin {

namespace {

// Code points that print as an escape. Without the full Unicode tables this covers the
// categories that matter in practice: Cc, Cf, Zl, Zp, Zs other than the space, Co, the
// non-characters and the common combining marks.
bool hidden(char32_t c) noexcept {
    if (c < 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0xad) return true;
    if (c >= 0x300 && c <= 0x36f) return true;
    if ((c >= 0x600 && c <= 0x605) || c == 0x61c || c == 0x6dd || c == 0x70f || c == 0x1680 || c == 0x180e) return true;
    if ((c >= 0x2000 && c <= 0x200f) || (c >= 0x2028 && c <= 0x202f) || (c >= 0x205f && c <= 0x206f)) return true;
    if (c == 0x3000 || c == 0xfeff || (c >= 0xfff9 && c <= 0xfffb)) return true;
    if ((c >= 0xfe00 && c <= 0xfe0f) || (c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) == 0xfffe) return true;
    if ((c >= 0xe000 && c <= 0xf8ff) || c >= 0xf0000 || (c >= 0xe0000 && c <= 0xe0fff)) return true;
    return false;
}

// Decodes one UTF-8 sequence at s[i]; on a malformed one returns U+FFFD and consumes a byte.
char32_t next_code_point(std::string_view s, std::size_t& i) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    std::size_t len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xe ? 3 : (b0 >> 3) == 0x1e ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0xfffd;
    }
    char32_t c = len == 1 ? b0 : b0 & (0x7f >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            ++i;
            return 0xfffd;
        }
        c = (c << 6) | (byte(i + k) & 0x3f);
    }
    const char32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < min_for_len[len] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) {
        ++i;
        return 0xfffd;
    }
    i += len;
    return c;
}

}  // namespace

std::string debug_quoted(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t c = next_code_point(utf8, i);
        switch (c) {
            case U'\0': out += "\\0"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\r': out += "\\r"; continue;
            case U'\n': out += "\\n"; continue;
            case U'"': out += "\\\""; continue;
            case U'\\': out += "\\\\"; continue;
            default: break;
        }
        if (c == 0xfffd && !(i - start == 3 && utf8.substr(start, 3) == "\xef\xbf\xbd")) {
            out += "\\u{fffd}";
        } else if (hidden(c)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(utf8.substr(start, i - start));
        }
    }
    out += '"';
    return out;
}

}  // namespace vardelin
