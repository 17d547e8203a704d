// Decodes arbitrary text as strict Base64; valid text must encode back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ns/Data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = ns::Data::fromBase64(text);
    if (decoded) {
        const std::string again = decoded->base64EncodedString();
        // Only non-zero bits under the padding may differ.
        if (again.size() != text.size()) std::abort();
        if (ns::Data::fromBase64(again) != decoded) std::abort();
    }
    const ns::Data raw(data, size);
    if (ns::Data::fromBase64(raw.base64EncodedString()) != raw) std::abort();
    return 0;
}
