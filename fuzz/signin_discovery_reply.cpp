// Instance discovery answers: a status and a body from the identity service.
#include <string>

#include "fuzz/Require.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSLogger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    if (size < 2) return 0;
    // The first two bytes pick the status, so that 200, 400, 401 and others are all reached.
    const int statuses[] = {200, 400, 401, 500, 302, 404};
    const int status = statuses[(data[0] * 256 + data[1]) % 6];
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
    auto error = DSInstanceDiscovery::errorOfDiscoveryAnswer(status, body, std::nullopt);
    if (error) {
        fuzzing::require(error->code() == DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION);
        fuzzing::require(error->errorDetails().has_value());
    } else {
        fuzzing::require(status == 200 || status == 400 || status == 401);
    }
    return 0;
}
