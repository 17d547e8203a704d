// Authority URLs given by the application or stored with cached tokens.
#include <string>

#include "fuzz/Require.h"
#include "platform/ns/StringComponents.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::optional<DSAuthenticationError> error;
    std::optional<std::string> host = DSInstanceDiscovery::extractHost(text, std::nullopt, error);
    fuzzing::require(host.has_value() != error.has_value());
    if (host) {
        // A host authority is exactly "https://" + a host: no user, path or port to confuse
        // the validated set.
        fuzzing::require(host->rfind("https://", 0) == 0);
        fuzzing::require(host->find_first_of("@/?#", 8) == std::string::npos);
    }

    if (std::optional<std::string> canonical = DSInstanceDiscovery::canonicalizeAuthority(text)) {
        fuzzing::require(canonical->rfind("https://", 0) == 0);
        fuzzing::require(*canonical == ns::asciiLowercased(*canonical));
        fuzzing::require(canonical->find('@') == std::string::npos);
        // The canonical form is a fixed point.
        fuzzing::require(DSInstanceDiscovery::canonicalizeAuthority(*canonical) == canonical);
    }
    return 0;
}
