#pragma once

#include <optional>
#include <string>

#include "signin/DSAuthenticationError.h"

// The signing team's identifier, which prefixes the keychain access groups of the sign-in
// caches. Found once per process from the application's default access group.
class DSKeychainUtil {
public:
    static std::optional<std::string> keychainTeamId(DSErrorOut error = nullptr);
    static std::optional<std::string> retrieveTeamIDFromKeychain(DSErrorOut error = nullptr);
};
