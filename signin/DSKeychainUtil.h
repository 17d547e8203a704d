#pragma once

#include <optional>
#include <string>

#include "platform/sec/KeychainItems.h"
#include "signin/DSAuthenticationError.h"

// The sign-in library's keychain: its items in the process's keychain store, and the signing
// team's identifier, which prefixes the access groups of the sign-in caches, found once per
// process from the application's default access group.
class DSKeychainUtil {
public:
    // The process's keychain as it is now (a test may have put another in its place).
    static sec::KeychainItems items();
    static std::optional<std::string> keychainTeamId(DSErrorOut error = nullptr);
    static std::optional<std::string> retrieveTeamIDFromKeychain(DSErrorOut error = nullptr);
};
