// Stored keychain blobs read back from disk: the attribute decoder and the key imports.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/sec/AttributeCodec.h"
#include "platform/sec/Key.h"

namespace {

bool anyKey(std::string_view) {
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto attributes = sec::AttributeCodec::decode(data, size);
    // Matching without decoding accepts exactly what decoding accepts.
    if (sec::AttributeCodec::contains(data, size, {}, anyKey) != attributes.has_value()) {
        std::abort();
    }
    if (attributes) {
        // The stored form is canonical: what decodes re-encodes to the same bytes.
        ns::Data again = sec::AttributeCodec::encode(*attributes);
        if (again.length() != size || (size && std::memcmp(again.bytes(), data, size) != 0)) {
            std::abort();
        }
        if (!sec::AttributeCodec::contains(data, size, *attributes, anyKey)) std::abort();
    }
    ns::Data bytes(data, size);
    if (auto key = sec::Key::fromPrivateKeyData(bytes)) {
        if (!key->isPrivate()) std::abort();
        key->publicKeyData();
    }
    if (auto key = sec::Key::fromPublicKeyData(bytes)) key->blockSize();
    return 0;
}
