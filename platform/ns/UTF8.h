#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ns::utf8 {

// The UTF-8 encoding of U+FFFD REPLACEMENT CHARACTER.
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length (1 to 4) of the well-formed UTF-8 sequence that starts at `p`, or 0 when the bytes
// there are not one: stray continuation bytes, overlong forms, surrogates, values above
// U+10FFFF and sequences cut off by `end` are all ill-formed.
inline size_t sequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    const auto avail = static_cast<size_t>(end - p);
    auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    if (b >= 0xC2 && b <= 0xDF) return avail >= 2 && cont(p[1]) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (avail < 3 || !cont(p[2])) return 0;
        const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        const unsigned char hi = b == 0xED ? 0x9F : 0xBF;  // no surrogates
        return p[1] >= lo && p[1] <= hi ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (avail < 4 || !cont(p[2]) || !cont(p[3])) return 0;
        const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;  // no overlong forms
        const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
        return p[1] >= lo && p[1] <= hi ? 4 : 0;
    }
    return 0;
}

// Whether the whole text is well-formed UTF-8.
bool isValid(std::string_view text);

// Appends `text` to `out`, each byte that does not start a well-formed sequence replaced by
// U+FFFD, so that text from anywhere can be handed on as valid UTF-8.
void appendRepaired(std::string& out, std::string_view text);
std::string repaired(std::string_view text);

}  // namespace ns::utf8
