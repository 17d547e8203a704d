// Stored keychain blobs read back from disk: the attribute decoder and the key imports.
#include <cstdlib>
#include <cstring>

#include "platform/sec/AttributeCodec.h"
#include "platform/sec/Key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto attributes = sec::AttributeCodec::decode(data, size)) {
        // The stored form is canonical: what decodes re-encodes to the same bytes.
        ns::Data again = sec::AttributeCodec::encode(*attributes);
        if (again.length() != size || (size && std::memcmp(again.bytes(), data, size) != 0)) {
            std::abort();
        }
    }
    ns::Data bytes(data, size);
    if (auto key = sec::Key::fromPrivateKeyData(bytes)) {
        if (!key->isPrivate()) std::abort();
        key->publicKeyData();
    }
    if (auto key = sec::Key::fromPublicKeyData(bytes)) key->blockSize();
    return 0;
}
