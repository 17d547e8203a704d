#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"

namespace sec {

inline constexpr size_t kSHA1Length = 20;
inline constexpr size_t kSHA256Length = 32;

// Digests of bytes (text is digested as its UTF-8 bytes).
ns::Data md5(std::string_view bytes);
ns::Data sha1(std::string_view bytes);
ns::Data sha256(std::string_view bytes);
inline ns::Data md5(const ns::Data& data) {
    return md5(data.chars());
}
inline ns::Data sha1(const ns::Data& data) {
    return sha1(data.chars());
}
inline ns::Data sha256(const ns::Data& data) {
    return sha256(data.chars());
}

ns::Data hmacSHA256(std::string_view key, std::string_view bytes);
inline ns::Data hmacSHA256(const ns::Data& key, const ns::Data& data) {
    return hmacSHA256(key.chars(), data.chars());
}

// Two lower-case hexadecimal digits per byte ("%02x").
std::string hexString(std::string_view bytes);
inline std::string hexString(const ns::Data& data) {
    return hexString(data.chars());
}

// What stands for a secret (a token, a key, a credential) in a log line: the first 7
// hexadecimal digits of its SHA-256 digest, so that lines can be matched up without the secret
// being readable from them.
inline std::string logDigest(std::string_view secret) {
    return hexString(sha256(secret)).substr(0, 7);
}

}  // namespace sec
