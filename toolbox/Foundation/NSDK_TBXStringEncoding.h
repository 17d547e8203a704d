#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"

// Encodes bytes as text over an alphabet of 2, 4, ... or 128 ASCII characters (each character
// carries log2(size) bits) and decodes such text back, strictly: decoding refuses unknown
// characters, text after padding and non-zero leftover bits.
class NSDK_TBXStringEncoding {
public:
    static std::shared_ptr<NSDK_TBXStringEncoding> binaryStringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> hexStringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> rfc4648Base32StringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> rfc4648Base32HexStringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> crockfordBase32StringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> rfc4648Base64StringEncoding();
    static std::shared_ptr<NSDK_TBXStringEncoding> rfc4648Base64WebsafeStringEncoding();

    // nullptr unless the alphabet is ASCII, of a power-of-two size from 2 to 128, without
    // repeated characters.
    static std::shared_ptr<NSDK_TBXStringEncoding> stringEncodingWithString(
        std::string_view alphabet);

    // Each group of characters starts with one already mapped; the rest decode like it.
    // Throws ns::Exception (invalid argument) for a character outside 7-bit ASCII.
    void addDecodeSynonyms(std::string_view synonyms);
    // Characters that decoding skips. Throws ns::Exception (internal inconsistency) for a
    // character already mapped, (invalid argument) for one outside 7-bit ASCII.
    void ignoreCharacters(std::string_view characters);

    bool doPad() const { return doPad_; }
    void setDoPad(bool doPad) { doPad_ = doPad; }
    // Throws ns::Exception (invalid argument) for a character outside 7-bit ASCII.
    void setPaddingChar(char c);

    std::string encode(const ns::Data& data) const;
    std::string encodeString(std::string_view string) const;
    std::optional<ns::Data> decode(std::string_view string) const;
    // The decoded bytes as text; nullopt unless they are well-formed UTF-8.
    std::optional<std::string> stringByDecoding(std::string_view string) const;

    std::string description() const;

    NSDK_TBXStringEncoding(const NSDK_TBXStringEncoding&) = delete;
    NSDK_TBXStringEncoding& operator=(const NSDK_TBXStringEncoding&) = delete;

private:
    static constexpr int kUnknown = -1;
    static constexpr int kPadding = -2;
    static constexpr int kIgnored = -3;

    NSDK_TBXStringEncoding() = default;
    static std::shared_ptr<NSDK_TBXStringEncoding> make(std::string_view alphabet,
                                                        std::string_view synonyms, bool pad);
    static uint8_t asciiOrThrow(char c);

    std::string charMap_;
    std::array<int, 128> reverseCharMap_{};
    int shift_ = 0;
    uint32_t mask_ = 0;
    bool doPad_ = false;
    char paddingChar_ = '\0';
    size_t padLen_ = 0;
};
