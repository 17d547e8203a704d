#include "signin/DSInstanceDiscovery.h"

#include "platform/ns/Format.h"
#include "platform/ns/URL.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

std::optional<std::string> DSInstanceDiscovery::canonicalizeAuthority(
    const std::optional<std::string>& authority) {
    if (dsIsStringNilOrBlank(authority)) return std::nullopt;
    const std::string text = dsLowercase(dsTrimmedString(*authority));
    std::optional<ns::URL> url = ns::URL::parse(text);
    if (!url) {
        DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "The authority is not a valid URL", 0,
                            std::nullopt, nullptr, "Authority %@", *authority);
        return std::nullopt;
    }
    if (url->scheme() != "https") {
        DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "Non HTTPS protocol for the authority", 0,
                            std::nullopt, nullptr, "Authority %@", *authority);
        return std::nullopt;
    }
    const std::vector<std::string> parts = url->pathComponents();
    const std::optional<std::string> host = url->host();
    // The root "/" is the first component; the tenant is the second.
    if (parts.size() < 2 || dsIsStringNilOrBlank(parts[1]) || dsIsStringNilOrBlank(host))
        return std::nullopt;
    if (std::optional<int> port = url->port())
        return ns::format("%@://%@:%d/%@", *url->scheme(), *host, *port, parts[1]);
    return ns::format("%@://%@/%@", *url->scheme(), *host, parts[1]);
}
