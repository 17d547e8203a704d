#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

// An immutable-by-convention byte buffer (the platform's data object).
class Data {
public:
    Data() = default;
    explicit Data(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    Data(const void* bytes, size_t length)
        : bytes_(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length) {}
    static Data fromString(std::string_view text) { return Data(text.data(), text.size()); }

    const uint8_t* bytes() const { return bytes_.data(); }
    size_t length() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::string_view chars() const {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }
    const std::vector<uint8_t>& vector() const { return bytes_; }
    std::vector<uint8_t>& mutableVector() { return bytes_; }
    void append(const void* bytes, size_t length) {
        auto p = static_cast<const uint8_t*>(bytes);
        bytes_.insert(bytes_.end(), p, p + length);
    }

    // Standard Base64 with padding and without line breaks.
    std::string base64EncodedString() const;
    // Base64 with the URL-safe alphabet ("-" and "_") and without padding.
    std::string base64URLEncodedString() const;
    // Strict: standard alphabet, padding required, no white space; anything else is nullopt.
    static std::optional<Data> fromBase64(std::string_view text);

    // What `%@` prints: "{length = 3, bytes = 0x000102}"; beyond 24 bytes only the first and
    // the last eight, in groups of four: "{length = 100, bytes = 0x00010203 04050607 ...
    // 5c5d5e5f 60616263 }".
    std::string description() const;

    bool operator==(const Data&) const = default;

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace ns
