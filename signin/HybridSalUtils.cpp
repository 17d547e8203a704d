#include "signin/HybridSalUtils.h"

#include <map>

#include "signin/DSKeychainTokenCache.h"
#include "signin/DSStringHelpers.h"

namespace {

ns::Value nilToNull(const std::optional<std::string>& text) {
    return text ? ns::Value(*text) : ns::Value();
}

bool sameIgnoringCase(const std::optional<std::string>& a, const std::string& b) {
    return a && dsLowercase(*a) == dsLowercase(b);
}

}  // namespace

std::optional<std::string> HybridSalUtils::errorCodeName(int32_t code) {
    static const auto& names = *new std::map<int32_t, const char*>{
        {0, "DS_ERROR_SUCCEEDED"},
        {-1, "DS_ERROR_UNEXPECTED"},
        {100, "DS_ERROR_DEVELOPER_INVALID_ARGUMENT"},
        {101, "DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION"},
        {200, "DS_ERROR_SERVER_USER_INPUT_NEEDED"},
        {201, "DS_ERROR_SERVER_WPJ_REQUIRED"},
        {202, "DS_ERROR_SERVER_OAUTH"},
        {203, "DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED"},
        {204, "DS_ERROR_SERVER_WRONG_USER"},
        {205, "DS_ERROR_SERVER_NON_HTTPS_REDIRECT"},
        {206, "DS_ERROR_SERVER_INVALID_ID_TOKEN"},
        {207, "DS_ERROR_SERVER_MISSING_AUTHENTICATE_HEADER"},
        {208, "DS_ERROR_SERVER_AUTHENTICATE_HEADER_BAD_FORMAT"},
        {209, "DS_ERROR_SERVER_UNAUTHORIZED_CODE_EXPECTED"},
        {210, "DS_ERROR_SERVER_UNSUPPORTED_REQUEST"},
        {211, "DS_ERROR_SERVER_AUTHORIZATION_CODE"},
        {300, "DS_ERROR_CACHE_MULTIPLE_USERS"},
        {301, "DS_ERROR_CACHE_VERSION_MISMATCH"},
        {302, "DS_ERROR_CACHE_BAD_FORMAT"},
        {303, "DS_ERROR_CACHE_NO_REFRESH_TOKEN"},
        {400, "DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS"},
        {401, "DS_ERROR_UI_NO_MAIN_VIEW_CONTROLLER"},
        {402, "DS_ERROR_UI_NOT_SUPPORTED_IN_APP_EXTENSION"},
        {403, "DS_ERROR_UI_USER_CANCEL"},
        {404, "DS_ERROR_UI_NOT_ON_MAIN_THREAD"},
        {500, "DS_ERROR_TOKENBROKER_UNKNOWN"},
        {501, "DS_ERROR_TOKENBROKER_INVALID_REDIRECT_URI"},
        {502, "DS_ERROR_TOKENBROKER_RESPONSE_HASH_MISMATCH"},
        {503, "DS_ERROR_TOKENBROKER_RESPONSE_NOT_RECEIVED"},
        {504, "DS_ERROR_TOKENBROKER_FAILED_TO_CREATE_KEY"},
        {505, "DS_ERROR_TOKENBROKER_DECRYPTION_FAILED"},
        {506, "DS_ERROR_TOKENBROKER_NOT_A_BROKER_RESPONSE"},
        {507, "DS_ERROR_TOKENBROKER_NO_RESUME_STATE"},
        {508, "DS_ERROR_TOKENBROKER_BAD_RESUME_STATE"},
        {509, "DS_ERROR_TOKENBROKER_MISMATCHED_RESUME_STATE"},
        {510, "DS_ERROR_TOKENBROKER_HASH_MISSING"},
        {511, "DS_ERROR_TOKENBROKER_NOT_SUPPORTED_IN_EXTENSION"},
    };
    auto it = names.find(code);
    if (it == names.end()) return std::nullopt;
    return std::string(it->second);
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
