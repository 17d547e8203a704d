#include "platform/sec/Digest.h"

#include <glib.h>

#include <algorithm>

namespace sec {

namespace {

// The library takes a signed length: bytes go in in pieces.
constexpr size_t kPiece = size_t{1} << 30;

template <class Update>
void feed(std::string_view bytes, Update update) {
    for (size_t done = 0; done < bytes.size();) {
        const size_t piece = std::min(kPiece, bytes.size() - done);
        update(reinterpret_cast<const guchar*>(bytes.data() + done), static_cast<gssize>(piece));
        done += piece;
    }
}

// The digests come from GLib, which every program of ours that shows a page has loaded
// already: a digest then costs no library of its own (the TLS library's first digest maps it
// and sets up its providers, some 40 million instructions and 3.5 MiB).
ns::Data digest(GChecksumType type, std::string_view bytes) {
    GChecksum* checksum = g_checksum_new(type);
    feed(bytes, [checksum](const guchar* piece, gssize length) {
        g_checksum_update(checksum, piece, length);
    });
    guint8 out[64];
    gsize length = sizeof out;
    g_checksum_get_digest(checksum, out, &length);
    g_checksum_free(checksum);
    return ns::Data(out, length);
}

}  // namespace

ns::Data md5(std::string_view bytes) {
    return digest(G_CHECKSUM_MD5, bytes);
}

ns::Data sha1(std::string_view bytes) {
    return digest(G_CHECKSUM_SHA1, bytes);
}

ns::Data sha256(std::string_view bytes) {
    return digest(G_CHECKSUM_SHA256, bytes);
}

ns::Data hmacSHA256(std::string_view key, std::string_view bytes) {
    static const guchar kNoKey = 0;
    const guchar* keyBytes = key.empty() ? &kNoKey : reinterpret_cast<const guchar*>(key.data());
    GHmac* hmac = g_hmac_new(G_CHECKSUM_SHA256, keyBytes, key.size());
    feed(bytes, [hmac](const guchar* piece, gssize length) { g_hmac_update(hmac, piece, length); });
    guint8 out[32];
    gsize length = sizeof out;
    g_hmac_get_digest(hmac, out, &length);
    g_hmac_unref(hmac);
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
