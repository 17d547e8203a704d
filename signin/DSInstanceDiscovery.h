#pragma once

#include <optional>
#include <string>

// Authority checks of the directory service.
class DSInstanceDiscovery {
public:
    // "https://" + host (+ ":" + port) + "/" + tenant, in lower case; nothing for an authority
    // that is not https or has no tenant.
    static std::optional<std::string> canonicalizeAuthority(
        const std::optional<std::string>& authority);
};
