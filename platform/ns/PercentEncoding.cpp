#include "platform/ns/PercentEncoding.h"

#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF16.h"

#include <cstdint>

namespace ns {

std::string percentEncode(std::string_view text, const CharacterSet& allowed) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (allowed.characterIsMember(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

const CharacterSet& formUnreservedCharacterSet() {
    static const CharacterSet unreserved = CharacterSet::characterSetWithCharactersInString(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~");
    return unreserved;
}

std::optional<std::string> percentDecodeBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        int hi = hexDigitValue(text[i + 1]), lo = hexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    auto bytes = percentDecodeBytes(text);
    if (!bytes || !isValidUTF8(*bytes)) return std::nullopt;
    return bytes;
}

std::string percentDecodeOrKeep(std::string_view text) {
    auto decoded = percentDecode(text);
    return decoded ? std::move(*decoded) : std::string(text);
}

}  // namespace ns
