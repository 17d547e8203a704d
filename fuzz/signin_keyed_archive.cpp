// Keychain data of stored tokens: the keyed-archive reader and the item decoder.
#include "fuzz/Require.h"
#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSLogger.h"
#include "signin/DSTokenCacheItem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    auto root =
        DSKeyedUnarchiver::unarchive(ns::Data(data, size), DSTokenCacheItem::archiveClasses());
    if (!root) return 0;
    // What decodes is written again (unless it holds text the format cannot carry) and reads
    // back the same.
    std::optional<ns::Data> again = DSKeyedArchiver::archivedDataWithRootObject(*root);
    if (!again) return 0;
    auto reread = DSKeyedUnarchiver::unarchive(*again, DSTokenCacheItem::archiveClasses());
    fuzzing::require(reread.ok());
    if (auto item = DSTokenCacheItem::decode(*root)) {
        auto copy = DSTokenCacheItem::decode(*reread);
        fuzzing::require(copy && copy->description() == item->description());
    }
    return 0;
}
