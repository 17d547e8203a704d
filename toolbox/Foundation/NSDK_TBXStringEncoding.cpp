#include "toolbox/Foundation/NSDK_TBXStringEncoding.h"

#include <bit>
#include <cstdio>
#include <numeric>
#include <utility>

#include "platform/ns/Exception.h"
#include "platform/ns/UTF16.h"

namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBase64WebsafeAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// What `%@` prints for a data object: hexadecimal bytes in groups of four.
std::string dataDescription(std::string_view bytes) {
    std::string out = "<";
    char hex[3];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        std::snprintf(hex, sizeof hex, "%02x", static_cast<uint8_t>(bytes[i]));
        out += hex;
    }
    return out + ">";
}

}  // namespace

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::make(std::string_view alphabet,
                                                                     std::string_view synonyms,
                                                                     bool pad) {
    auto encoding = stringEncodingWithString(alphabet);
    if (!synonyms.empty()) encoding->addDecodeSynonyms(synonyms);
    if (pad) {
        encoding->setPaddingChar('=');
        encoding->setDoPad(true);
    }
    return encoding;
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::binaryStringEncoding() {
    return make("01", "", false);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::hexStringEncoding() {
    return make("0123456789ABCDEF", "AaBbCcDdEeFf", false);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::rfc4648Base32StringEncoding() {
    return make("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", "", true);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::rfc4648Base32HexStringEncoding() {
    return make("0123456789ABCDEFGHIJKLMNOPQRSTUV", "", true);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::crockfordBase32StringEncoding() {
    return make("0123456789ABCDEFGHJKMNPQRSTVWXYZ",
                "0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz", false);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::rfc4648Base64StringEncoding() {
    return make(kBase64Alphabet, "", true);
}

std::shared_ptr<NSDK_TBXStringEncoding>
NSDK_TBXStringEncoding::rfc4648Base64WebsafeStringEncoding() {
    return make(kBase64WebsafeAlphabet, "", true);
}

std::shared_ptr<NSDK_TBXStringEncoding> NSDK_TBXStringEncoding::stringEncodingWithString(
    std::string_view alphabet) {
    const size_t size = alphabet.size();
    if (size < 2 || size > 128 || !std::has_single_bit(size)) return nullptr;
    std::shared_ptr<NSDK_TBXStringEncoding> encoding(new NSDK_TBXStringEncoding());
    encoding->reverseCharMap_.fill(kUnknown);
    for (size_t i = 0; i < size; ++i) {
        const auto c = static_cast<uint8_t>(alphabet[i]);
        if (c >= 128 || encoding->reverseCharMap_[c] != kUnknown) return nullptr;
        encoding->reverseCharMap_[c] = static_cast<int>(i);
    }
    encoding->charMap_ = std::string(alphabet);
    encoding->shift_ = std::countr_zero(size);
    encoding->mask_ = static_cast<uint32_t>(size - 1);
    encoding->padLen_ = static_cast<size_t>(std::lcm(8, encoding->shift_) / encoding->shift_);
    return encoding;
}

uint8_t NSDK_TBXStringEncoding::asciiOrThrow(char c) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 128) {
        throw ns::Exception(ns::kInvalidArgumentException, "Character is not 7-bit ASCII");
    }
    return b;
}

void NSDK_TBXStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
    int current = kUnknown;
    for (char c : synonyms) {
        int& entry = reverseCharMap_[asciiOrThrow(c)];
        if (entry != kUnknown) {
            current = entry;
        } else {
            entry = current;
        }
    }
}

void NSDK_TBXStringEncoding::ignoreCharacters(std::string_view characters) {
    for (char c : characters) {
        int& entry = reverseCharMap_[asciiOrThrow(c)];
        if (entry != kUnknown) {
            throw ns::Exception(ns::kInternalInconsistencyException, "Character already mapped");
        }
        entry = kIgnored;
    }
}

void NSDK_TBXStringEncoding::setPaddingChar(char c) {
    reverseCharMap_[asciiOrThrow(c)] = kPadding;
    paddingChar_ = c;
}

namespace {

// Whole blocks (the least common multiple of 8 and the character width, in bits) carry no
// state from one to the next; templates per width let the compiler unroll them.
template <int Shift>
struct Blocks {
    static constexpr int kChars = std::lcm(8, Shift) / Shift;
    static constexpr int kBytes = kChars * Shift / 8;
    static constexpr uint64_t kMask = (uint64_t{1} << Shift) - 1;

    static void encode(const uint8_t*& p, const uint8_t* end, char*& o, const char* map) {
        while (end - p >= kBytes) {
            uint64_t block = 0;
            for (int k = 0; k < kBytes; ++k) block = block << 8 | p[k];
            for (int k = kChars - 1; k >= 0; --k) *o++ = map[(block >> (k * Shift)) & kMask];
            p += kBytes;
        }
    }

    // Decodes one block of plain alphabet characters; false (nothing written) when the block
    // holds anything else, which the character-wise path then handles.
    static bool decode(const uint8_t* in, const int* reverse, uint8_t*& o) {
        uint64_t block = 0;
        for (int k = 0; k < kChars; ++k) {
            if (in[k] >= 128 || reverse[in[k]] < 0) return false;
            block = block << Shift | static_cast<uint64_t>(reverse[in[k]]);
        }
        for (int k = kBytes - 1; k >= 0; --k) *o++ = static_cast<uint8_t>(block >> (8 * k));
        return true;
    }
};

template <template <int> class F, class... Args>
auto forWidth(int shift, Args&&... args) {
    switch (shift) {
        case 1:
            return F<1>::run(std::forward<Args>(args)...);
        case 2:
            return F<2>::run(std::forward<Args>(args)...);
        case 3:
            return F<3>::run(std::forward<Args>(args)...);
        case 4:
            return F<4>::run(std::forward<Args>(args)...);
        case 5:
            return F<5>::run(std::forward<Args>(args)...);
        case 6:
            return F<6>::run(std::forward<Args>(args)...);
        default:
            return F<7>::run(std::forward<Args>(args)...);
    }
}

template <int Shift>
struct EncodeBlocks {
    static void run(const uint8_t*& p, const uint8_t* end, char*& o, const char* map) {
        Blocks<Shift>::encode(p, end, o, map);
    }
};

constexpr int kPaddingEntry = -2;
constexpr int kUnknownEntry = -1;

// Decodes the whole text into `o`, moving it on; false when the text is not the canonical
// text of some bytes.
template <int Shift>
struct DecodeText {
    static bool run(const uint8_t* in, size_t n, const int* reverse, uint8_t*& o) {
        using B = Blocks<Shift>;
        uint32_t buffer = 0;
        int bits = 0;
        bool sawPadding = false;
        size_t i = 0;
        while (i < n) {
            if (bits == 0 && !sawPadding && n - i >= B::kChars && B::decode(in + i, reverse, o)) {
                i += B::kChars;
                continue;
            }
            const uint8_t c = in[i++];
            if (c >= 128) return false;
            const int value = reverse[c];
            if (value >= 0) {
                if (sawPadding) return false;
                buffer = buffer << Shift | static_cast<uint32_t>(value);
                bits += Shift;
                if (bits >= 8) {
                    bits -= 8;
                    *o++ = static_cast<uint8_t>(buffer >> bits);
                }
            } else if (value == kPaddingEntry) {
                sawPadding = true;
            } else if (value == kUnknownEntry) {
                return false;
            }
        }
        // Leftover bits must be zero: only the canonical text of some bytes decodes.
        return bits == 0 || (buffer & ((1u << bits) - 1)) == 0;
    }
};

}  // namespace

std::string NSDK_TBXStringEncoding::encode(const ns::Data& data) const {
    const size_t length = data.length();
    if (length == 0) return {};
    const auto shift = static_cast<size_t>(shift_);
    size_t outLength = (length * 8 + shift - 1) / shift;
    if (doPad_) outLength = (outLength + padLen_ - 1) / padLen_ * padLen_;
    std::string out(outLength, paddingChar_);
    char* o = out.data();
    const uint8_t* p = data.bytes();
    const uint8_t* end = p + length;
    forWidth<EncodeBlocks>(shift_, p, end, o, charMap_.data());
    // The last, partial block bit by bit, completed with zero bits.
    uint32_t buffer = 0;
    size_t bits = 0;
    for (; p < end; ++p) {
        buffer = buffer << 8 | *p;
        bits += 8;
        while (bits >= shift) {
            bits -= shift;
            *o++ = charMap_[(buffer >> bits) & mask_];
        }
    }
    if (bits > 0) *o++ = charMap_[(buffer << (shift - bits)) & mask_];
    return out;
}

std::string NSDK_TBXStringEncoding::encodeString(std::string_view string) const {
    return encode(ns::Data(string.data(), string.size()));
}

std::optional<ns::Data> NSDK_TBXStringEncoding::decode(std::string_view string) const {
    static_assert(kPadding == kPaddingEntry && kUnknown == kUnknownEntry);
    std::vector<uint8_t> out(static_cast<size_t>(shift_) * string.size() / 8);
    uint8_t* end = out.data();
    if (!forWidth<DecodeText>(shift_, reinterpret_cast<const uint8_t*>(string.data()),
                              string.size(), reverseCharMap_.data(), end)) {
        return std::nullopt;
    }
    out.resize(static_cast<size_t>(end - out.data()));
    return ns::Data(std::move(out));
}

std::optional<std::string> NSDK_TBXStringEncoding::stringByDecoding(std::string_view string) const {
    auto data = decode(string);
    if (!data || !ns::isValidUTF8(data->chars())) return std::nullopt;
    return std::string(data->chars());
}

std::string NSDK_TBXStringEncoding::description() const {
    return "<Base" + std::to_string(charMap_.size()) +
           " StringEncoder: " + dataDescription(charMap_) + ">";
}
