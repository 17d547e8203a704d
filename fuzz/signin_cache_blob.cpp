// Blobs an application hands to the archivable token cache.
#include "fuzz/Require.h"
#include "signin/DSLogger.h"
#include "signin/DSTokenCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    DSTokenCache cache;
    if (!cache.deserialize(ns::Data(data, size), nullptr)) return 0;
    auto items = cache.allItems(nullptr);
    fuzzing::require(items.has_value());
    // An adopted blob serialises, and the result is adopted again with the same items.
    std::optional<ns::Data> blob = cache.serialize();
    DSTokenCache again;
    fuzzing::require(again.deserialize(blob, nullptr));
    fuzzing::require(!blob || again.allItems(nullptr)->size() == items->size());
    return 0;
}
