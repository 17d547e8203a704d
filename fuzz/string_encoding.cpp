// Every ready-made decoder on untrusted text: what decodes must encode and decode back to the
// same bytes, and encoding arbitrary bytes must decode back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "toolbox/Foundation/NSDK_TBXStringEncoding.h"

namespace {

const std::vector<std::shared_ptr<NSDK_TBXStringEncoding>>& encodings() {
    static const auto all = [] {
        std::vector<std::shared_ptr<NSDK_TBXStringEncoding>> v = {
            NSDK_TBXStringEncoding::binaryStringEncoding(),
            NSDK_TBXStringEncoding::hexStringEncoding(),
            NSDK_TBXStringEncoding::rfc4648Base32StringEncoding(),
            NSDK_TBXStringEncoding::rfc4648Base32HexStringEncoding(),
            NSDK_TBXStringEncoding::crockfordBase32StringEncoding(),
            NSDK_TBXStringEncoding::rfc4648Base64StringEncoding(),
            NSDK_TBXStringEncoding::rfc4648Base64WebsafeStringEncoding(),
        };
        auto lenient = NSDK_TBXStringEncoding::rfc4648Base64StringEncoding();
        lenient->ignoreCharacters(" \r\n\t");
        v.push_back(lenient);
        return v;
    }();
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ns::Data bytes(data, size);
    for (const auto& encoding : encodings()) {
        if (auto decoded = encoding->decode(text)) {
            const auto again = encoding->decode(encoding->encode(*decoded));
            if (!again || *again != *decoded) std::abort();
        }
        if (encoding->decode(encoding->encode(bytes)) != bytes) std::abort();
    }
    return 0;
}
