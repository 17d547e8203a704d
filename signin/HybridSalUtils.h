#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Value.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSAuthenticationResult.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSUserInformation.h"

class DSAuthenticationContext;

// The library's objects as the dictionaries the page receives, and the page's user
// identifiers as the acquire calls expect them.
class HybridSalUtils {
public:
    static ns::Dictionary DSTokenCacheStoreItemToDictionary(const DSTokenCacheItem& item);
    // The JSON null value for no user.
    static ns::Value DSUserInformationToDictionary(const DSUserInformation* info);
    static ns::Dictionary DSAuthenticationResultToDictionary(const DSAuthenticationResult& result);
    static ns::Dictionary DSAuthenticationErrorToDictionary(const DSAuthenticationError& error);
    // The plug-in's name of an error code; nothing for a code it does not know.
    static std::optional<std::string> errorCodeName(int32_t code);
    static std::optional<std::string> mapUserIdToUserName(const DSAuthenticationContext* context,
                                                          const std::optional<std::string>& userId);
};
