#include "platform/ns/UTF16.h"

#include "platform/ns/UTF8.h"

#include <algorithm>
#include <cstdint>

namespace ns {
namespace {

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

size_t unitsOf(char32_t c) {
    return c >= 0x10000 ? 2 : 1;
}

// Moves `index` past the run of ASCII bytes that starts there.
size_t skipASCII(std::string_view s, size_t index) {
    while (index < s.size() && static_cast<uint8_t>(s[index]) < 0x80) ++index;
    return index;
}

// Walks whole characters from the start while the offsets after the next one stay within
// both limits; answers the byte and unit offsets reached.
struct Position {
    size_t bytes = 0;
    size_t units = 0;
};

Position walk(std::string_view utf8, size_t byteLimit, size_t unitLimit) {
    Position at;
    while (at.bytes < utf8.size()) {
        Position next = at;
        if (static_cast<uint8_t>(utf8[at.bytes]) < 0x80) {
            ++next.bytes;
            ++next.units;
        } else {
            next.units += unitsOf(nextCodePoint(utf8, next.bytes));
        }
        if (next.bytes > byteLimit || next.units > unitLimit) break;
        at = next;
    }
    return at;
}

}  // namespace

char32_t nextCodePoint(std::string_view utf8, size_t& index, bool* malformed) {
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.data()) + index;
    const utf8::SequenceStart start =
        utf8::sequenceStart(p, reinterpret_cast<const uint8_t*>(utf8.data()) + utf8.size());
    if (malformed) *malformed = start.valid != start.length;
    if (start.valid != start.length) {
        index += start.valid == 0 ? 1 : start.valid;  // the maximal ill-formed part: one U+FFFD
        return kReplacementCharacter;
    }
    index += start.length;
    if (start.length == 1) return p[0];
    // The lead byte's payload bits: 5, 4 or 3 for sequences of 2, 3 or 4 bytes.
    char32_t c = p[0] & (0x7F >> start.length);
    for (size_t k = 1; k < start.length; ++k) c = (c << 6) | (p[k] & 0x3F);
    return c;
}

void appendUTF8(std::string& out, char32_t c) {
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacementCharacter;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isValidUTF8(std::string_view utf8) {
    return utf8::isValid(utf8);
}

size_t utf16Length(std::string_view utf8) {
    size_t units = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        const size_t asciiEnd = skipASCII(utf8, i);
        units += asciiEnd - i;
        i = asciiEnd;
        if (i < utf8.size()) units += unitsOf(nextCodePoint(utf8, i));
    }
    return units;
}

std::u16string toUTF16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const char32_t c = nextCodePoint(utf8, i);
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

std::string fromUTF16(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char32_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            appendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUTF8(out, u);  // a lone surrogate appends U+FFFD
        }
    }
    return out;
}

size_t utf8OffsetForUTF16Offset(std::string_view utf8, size_t utf16Offset) {
    return walk(utf8, SIZE_MAX, utf16Offset).bytes;
}

size_t utf16OffsetForUTF8Offset(std::string_view utf8, size_t utf8Offset) {
    return walk(utf8, utf8Offset, SIZE_MAX).units;
}

std::string utf16Substring(std::string_view utf8, size_t location, size_t length) {
    const size_t end = location + std::min(length, SIZE_MAX - location);
    std::string out;
    size_t units = 0;
    size_t i = 0;
    while (i < utf8.size() && units < end) {
        const size_t start = i;
        const char32_t c = nextCodePoint(utf8, i);
        const size_t w = unitsOf(c);
        const size_t from = std::max(units, location);
        const size_t to = std::min(units + w, end);
        if (to > from) {
            if (to - from < w) {
                appendUTF8(out, kReplacementCharacter);  // one half of a split pair
            } else if (c == kReplacementCharacter) {
                appendUTF8(out, c);  // malformed bytes are not copied as they stand
            } else {
                out.append(utf8.substr(start, i - start));
            }
        }
        units += w;
    }
    return out;
}

}  // namespace ns
