// Inflation of untrusted bytes: never more output than the limit, and whatever inflates
// deflates and inflates back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {
constexpr size_t kLimit = 1 << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const auto& out : {tbx_dataByInflatingBytes(data, size, kLimit),
                            tbx_dataByRawInflatingBytes(data, size, kLimit)}) {
        if (!out) continue;
        if (out->length() > kLimit) std::abort();
        if (out->empty()) continue;
        const auto again = tbx_dataByInflatingData(*tbx_dataByGzippingData(*out, 1), kLimit);
        if (!again || *again != *out) std::abort();
    }
    if (size > 0 && size < 4096) {
        const auto packed = tbx_dataByRawDeflatingBytes(data, size);
        const auto back = tbx_dataByRawInflatingData(*packed);
        if (!back || back->length() != size || !std::equal(data, data + size, back->bytes())) {
            std::abort();
        }
    }
    return 0;
}
