#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ns::utf8 {

// The UTF-8 encoding of U+FFFD REPLACEMENT CHARACTER.
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// How the bytes at `p` (before `end`) begin a UTF-8 sequence: the `length` (1 to 4) that
// their first byte calls for, and how many of them, from the first, are `valid` as the start of
// a well-formed sequence of that length (0 for a byte that starts none: a stray continuation
// byte, C0, C1, F5 to FF). Overlong forms, surrogates and values above U+10FFFF are refused at
// their second byte.
struct SequenceStart {
    size_t length;
    size_t valid;
};

inline SequenceStart sequenceStart(const unsigned char* p, const unsigned char* end) {
    const unsigned char b = p[0];
    if (b < 0x80) return {1, 1};
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // no overlong forms
        if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;   // no overlong forms
        if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {1, 0};
    }
    const auto avail = static_cast<size_t>(end - p);
    if (avail < 2 || p[1] < low || p[1] > high) return {length, 1};
    size_t valid = 2;
    while (valid < length && valid < avail && (p[valid] & 0xC0) == 0x80) ++valid;
    return {length, valid};
}

// Length (1 to 4) of the well-formed UTF-8 sequence that starts at `p`, or 0 when the bytes
// there are not one (see sequenceStart; a sequence cut off by `end` is ill-formed too).
inline size_t sequenceLength(const unsigned char* p, const unsigned char* end) {
    const SequenceStart start = sequenceStart(p, end);
    return start.valid == start.length ? start.length : 0;
}

// How many bytes at `p`, where no well-formed sequence starts, read as one U+FFFD: the longest
// start of a well-formed sequence there (its maximal subpart), or the one byte, as the Unicode
// Standard recommends and other decoders do ("F0 9F 98" is one, "ED A0 80" three).
inline size_t illFormedLength(const unsigned char* p, const unsigned char* end) {
    const size_t valid = sequenceStart(p, end).valid;
    return valid == 0 ? 1 : valid;
}

// Whether the whole text is well-formed UTF-8.
bool isValid(std::string_view text);

// Appends `text` to `out`, each ill-formed part (see illFormedLength) replaced by U+FFFD, so
// that text from anywhere can be handed on as valid UTF-8.
void appendRepaired(std::string& out, std::string_view text);
std::string repaired(std::string_view text);

}  // namespace ns::utf8
