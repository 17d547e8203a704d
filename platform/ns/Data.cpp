#include "platform/ns/Data.h"

#include <algorithm>
#include <array>

namespace ns {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789abcdef";

// Value of each Base64 character, or -1 for bytes outside the standard alphabet.
constexpr std::array<int8_t, 256> kDecode = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}();

void appendHex(std::string& out, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        out.push_back(kHex[p[i] >> 4]);
        out.push_back(kHex[p[i] & 15]);
    }
}

// Groups of four bytes separated by spaces, each group followed by a space.
void appendGroupedHex(std::string& out, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i += 4) {
        appendHex(out, p + i, std::min<size_t>(4, n - i));
        out.push_back(' ');
    }
}

}  // namespace

// Three bytes at a time into four characters, written in place into text sized up front.
std::string Data::base64EncodedString() const {
    const uint8_t* in = bytes_.data();
    const size_t whole = bytes_.size() / 3 * 3;
    std::string out((bytes_.size() + 2) / 3 * 4, '=');
    char* o = out.data();
    for (size_t i = 0; i < whole; i += 3, o += 4) {
        const uint32_t v = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8 | in[i + 2];
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
    }
    if (const size_t left = bytes_.size() - whole) {
        const uint32_t v =
            uint32_t{in[whole]} << 16 | (left == 2 ? uint32_t{in[whole + 1]} << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        if (left == 2) o[2] = kAlphabet[(v >> 6) & 63];
    }
    return out;
}

std::string Data::base64URLEncodedString() const {
    std::string text = base64EncodedString();
    while (!text.empty() && text.back() == '=') text.pop_back();
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    return text;
}

std::optional<Data> Data::fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const size_t chars = last ? 4 - padding : 4;
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            int8_t d = 0;
            if (k < chars) {
                d = kDecode[static_cast<unsigned char>(text[i + k])];
                if (d < 0) return std::nullopt;  // "=" too, anywhere but the final padding
            }
            v = v << 6 | static_cast<uint32_t>(d);
        }
        out.push_back(static_cast<uint8_t>(v >> 16));
        if (chars > 2) out.push_back(static_cast<uint8_t>(v >> 8));
        if (chars > 3) out.push_back(static_cast<uint8_t>(v));
    }
    return Data(std::move(out));
}

std::string Data::description() const {
    std::string out = "{length = " + std::to_string(bytes_.size()) + ", bytes = 0x";
    if (bytes_.size() <= 24) {
        appendHex(out, bytes_.data(), bytes_.size());
        out.push_back('}');
        return out;
    }
    appendGroupedHex(out, bytes_.data(), 8);
    out.append("... ");
    appendGroupedHex(out, bytes_.data() + bytes_.size() - 8, 8);
    out.push_back('}');
    return out;
}

}  // namespace ns
