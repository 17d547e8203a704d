#include "sdk/analytics/NSData+MD5.h"

#include "platform/sec/Digest.h"

ns::Data neba_MD5Data(std::string_view bytes) {
    return sec::md5(bytes);
}

int64_t neba_64LeastSignificantBits(std::string_view bytes) {
    size_t start = bytes.size() > 8 ? bytes.size() - 8 : 0;
    uint64_t bits = 0;
    for (size_t i = start; i < bytes.size(); ++i) {
        bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return static_cast<int64_t>(bits);
}

int64_t neba_64LSBMD5(std::string_view bytes) {
    return neba_64LeastSignificantBits(neba_MD5Data(bytes).chars());
}
