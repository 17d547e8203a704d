// Values read back from the keychain: "id|secret" credentials and "<secs>|Token|tok" tokens.
#include <cstdlib>
#include <string_view>

#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"
#include "sdk/instance_id/NEBInstanceIDTokenStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto preferences = NEBInstanceIDCheckinPreferences::preferencesFromKeychainContents(text)) {
        // The stored form of what was read is what was read.
        if (preferences->checkinKeychainContent() != std::string(text)) std::abort();
    }
    auto token = NEBInstanceIDTokenStore::actualTokenFromCachedToken(text);
    if (token && token->empty()) std::abort();
    NEBInstanceIDTokenStore::cacheTimeForCachedToken(text);
    return 0;
}
