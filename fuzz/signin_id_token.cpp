// id_tokens from the token service's answers.
#include <string>

#include "fuzz/Require.h"
#include "platform/ns/StringComponents.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSUserInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    const std::string token(reinterpret_cast<const char*>(data), size);
    auto info = DSUserInformation::initWithIdToken(token);
    if (!info) return 0;
    // A parsed user always has a normalised identifier.
    fuzzing::require(info->userId().has_value());
    fuzzing::require(*info->userId() == ns::asciiLowercased(dsTrimmedString(*info->userId())));
    fuzzing::require(!info->userId()->empty());
    return 0;
}
