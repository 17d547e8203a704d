#include "platform/ns/UUID.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

#include "platform/ns/StringComponents.h"

namespace ns {

namespace {

// Positions of the hyphens in the text form.
bool isHyphenAt(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

UUID::UUID() {
    size_t filled = 0;
    while (filled < bytes_.size()) {
        const ssize_t n = getrandom(bytes_.data() + filled, bytes_.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Without a random source no identifier can be trusted to be unique.
            std::abort();
        }
        filled += static_cast<size_t>(n);
    }
    bytes_[6] = static_cast<uint8_t>((bytes_[6] & 0x0F) | 0x40);  // version 4
    bytes_[8] = static_cast<uint8_t>((bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Bytes bytes{};
    size_t b = 0;
    for (size_t i = 0; i < text.size();) {
        if (isHyphenAt(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexDigitValue(text[i]);
        const int lo = hexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[b++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return UUID(bytes);
}

std::string UUID::UUIDString() const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kHex[bytes_[i] >> 4]);
        out.push_back(kHex[bytes_[i] & 15]);
    }
    return out;
}

}  // namespace ns
