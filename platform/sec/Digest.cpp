#include "platform/sec/Digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/ns/Exception.h"

namespace sec {

namespace {

// A digest only fails when the library itself is broken; that is a fault, not an answer.
[[noreturn]] void digestFailed() {
    throw ns::Exception(ns::kInternalInconsistencyException, "digest computation failed");
}

ns::Data digest(const EVP_MD* type, std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out, &length, type, nullptr) != 1) digestFailed();
    return ns::Data(out, length);
}

}  // namespace

ns::Data md5(std::string_view bytes) {
    return digest(EVP_md5(), bytes);
}

ns::Data sha1(std::string_view bytes) {
    return digest(EVP_sha1(), bytes);
}

ns::Data sha256(std::string_view bytes) {
    return digest(EVP_sha256(), bytes);
}

ns::Data hmacSHA256(std::string_view key, std::string_view bytes) {
    static const char kNoKey = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const void* keyBytes = key.empty() ? &kNoKey : key.data();
    if (!HMAC(EVP_sha256(), keyBytes, static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, &length)) {
        digestFailed();
    }
    return ns::Data(out, length);
}

std::string hexString(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

}  // namespace sec
