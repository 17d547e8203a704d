#include "sdk/analytics/NSString+NEBD5Additions.h"

#include "platform/ns/UTF16.h"
#include "platform/sec/Digest.h"

std::optional<std::string> neba_MD5String(std::string_view text) {
    if (!ns::isValidUTF8(text)) return std::nullopt;
    return sec::hexString(sec::md5(text));
}
