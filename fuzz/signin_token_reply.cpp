// Token endpoint answers: a status and a body from the identity service.
#include <string>

#include "fuzz/Require.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSTokenResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    if (size < 1) return 0;
    const int statuses[] = {200, 400, 401, 500};
    const int status = statuses[data[0] % 4];
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    DSTokenResponse::Request request{"https://h/t", "res", "client", "rt-old", nullptr};
    auto result = DSTokenResponse::processTokenResponse(status, body, request, std::nullopt);
    fuzzing::require(result != nullptr);
    if (result->status() == DS_SUCCEEDED) {
        fuzzing::require(status == 200);
        const auto& item = result->tokenCacheItem();
        fuzzing::require(item && !dsIsStringNilOrBlank(item->accessToken()));
        fuzzing::require(item->refreshToken().has_value());
        fuzzing::require(item->expiresOn().has_value());
    } else {
        fuzzing::require(result->error().has_value());
    }
    return 0;
}
