#include "signin/HybridSalUtils.h"

#include <iterator>

#include "platform/ns/StringComponents.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSStringHelpers.h"

namespace {

ns::Value nilToNull(const std::optional<std::string>& text) {
    return text ? ns::Value(*text) : ns::Value();
}

bool sameIgnoringCase(const std::optional<std::string>& a, const std::string& b) {
    return a && ns::asciiLowercased(*a) == ns::asciiLowercased(b);
}

}  // namespace

std::optional<std::string> HybridSalUtils::errorCodeName(int32_t code) {
    if (std::optional<std::string> name = dsErrorCodeName(code)) return name;
    // Broker codes from 506 on, which the page's table names and the library's does not.
    constexpr int32_t kFirstBrokerOnlyCode = 506;
    static constexpr const char* kBrokerNames[] = {
        "DS_ERROR_TOKENBROKER_NOT_A_BROKER_RESPONSE",
        "DS_ERROR_TOKENBROKER_NO_RESUME_STATE",
        "DS_ERROR_TOKENBROKER_BAD_RESUME_STATE",
        "DS_ERROR_TOKENBROKER_MISMATCHED_RESUME_STATE",
        "DS_ERROR_TOKENBROKER_HASH_MISSING",
        "DS_ERROR_TOKENBROKER_NOT_SUPPORTED_IN_EXTENSION"};
    const int64_t index = int64_t{code} - kFirstBrokerOnlyCode;
    if (index >= 0 && index < std::ssize(kBrokerNames)) return kBrokerNames[index];
    return std::nullopt;
}

ns::Dictionary HybridSalUtils::DSTokenCacheStoreItemToDictionary(const DSTokenCacheItem& item) {
    ns::Dictionary out;
    out["resource"] = nilToNull(item.resource());
    out["authority"] = nilToNull(item.authority());
    out["clientId"] = nilToNull(item.clientId());
    out["accessToken"] = nilToNull(item.accessToken());
    out["accessTokenType"] = nilToNull(item.accessTokenType());
    out["isMultipleResourceRefreshToken"] = item.refreshToken().has_value();
    if (item.expiresOn()) out["expiresOn"] = item.expiresOn()->timeIntervalSince1970() * 1000.0;
    if (const auto& info = item.userInformation()) {
        out["userInfo"] = DSUserInformationToDictionary(info.get());
        out["tenantId"] = nilToNull(info->tenantId());
        out["idToken"] = nilToNull(info->rawIdToken());
    }
    return out;
}

ns::Value HybridSalUtils::DSUserInformationToDictionary(const DSUserInformation* info) {
    if (!info) return ns::Value();
    ns::Dictionary out;
    out["userId"] = nilToNull(info->userId());
    if (info->userIdDisplayable()) out["displayableId"] = nilToNull(info->userId());
    out["uniqueId"] = nilToNull(info->userId());
    out["familyName"] = nilToNull(info->familyName());
    out["givenName"] = nilToNull(info->givenName());
    out["identityProvider"] = nilToNull(info->identityProvider());
    out["tenantId"] = nilToNull(info->tenantId());
    return ns::Value(std::move(out));
}

ns::Dictionary HybridSalUtils::DSAuthenticationErrorToDictionary(
    const DSAuthenticationError& error) {
    ns::Dictionary out;
    out["errorCode"] = nilToNull(errorCodeName(static_cast<int32_t>(error.code())));
    out["error"] = nilToNull(error.protocolCode());
    out["errorDescription"] = nilToNull(error.errorDetails());
    return out;
}

ns::Dictionary HybridSalUtils::DSAuthenticationResultToDictionary(
    const DSAuthenticationResult& result) {
    ns::Dictionary out;
    if (result.status() == DS_SUCCEEDED && result.tokenCacheItem()) {
        out = DSTokenCacheStoreItemToDictionary(*result.tokenCacheItem());
    } else if (result.error()) {
        out = DSAuthenticationErrorToDictionary(*result.error());
    }
    out["statusCode"] = static_cast<int64_t>(result.status());
    return out;
}

std::optional<std::string> HybridSalUtils::mapUserIdToUserName(
    const DSAuthenticationContext* /*context*/, const std::optional<std::string>& userId) {
    if (!userId || userId->empty()) return userId;
    auto cache = DSKeychainTokenCache::defaultKeychainCache();
    if (!cache) return userId;
    std::optional<DSAuthenticationError> error;
    std::optional<DSTokenCacheItems> items = cache->allItems(&error);
    if (error || !items) return userId;
    for (const auto& item : *items) {
        const auto& info = item->userInformation();
        if (!info) continue;
        if (sameIgnoringCase(info->userObjectId(), *userId) ||
            sameIgnoringCase(info->uniqueId(), *userId))
            return info->userId();
    }
    return userId;
}
