#include "signin/DSTokenResponse.h"

#include <cmath>

#include "platform/ns/Date.h"
#include "platform/ns/JSONSerialization.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSUserInformation.h"

namespace {

// A text member, or nothing for an absent, null or non-text one.
std::optional<std::string> text(const ns::Value& object, std::string_view key) {
    const ns::Value* value = object.find(key);
    if (!value || !value->string()) return std::nullopt;
    return *value->string();
}

// Seconds given as a number or as decimal text (both are seen in the wild); nothing for
// anything else, or for a value no date can hold.
std::optional<double> seconds(const ns::Value& object, std::string_view key) {
    const ns::Value* value = object.find(key);
    if (!value) return std::nullopt;
    std::optional<double> number = value->number();
    if (!number && value->string() && !value->string()->empty()) {
        const std::string& s = *value->string();
        if (s.find_first_not_of("0123456789") != std::string::npos || s.size() > 15)
            return std::nullopt;
        number = static_cast<double>(std::stoll(s));
    }
    if (!number || !std::isfinite(*number) || *number < 0 || *number > 1e11) return std::nullopt;
    return number;
}

}  // namespace

std::shared_ptr<const DSAuthenticationResult> DSTokenResponse::processTokenResponse(
    int64_t statusCode, std::string_view body, const Request& request,
    const std::optional<ns::UUID>& correlationId) {
    auto fail = [&](const DSAuthenticationError& error) {
        return DSAuthenticationResult::resultFromError(error, correlationId);
    };
    auto httpError = [&]() {
        return fail(DSAuthenticationError::HTTPErrorCode(
            statusCode, std::string(body.substr(0, 1024)), correlationId));
    };
    if (body.size() > kMaxBody) return httpError();
    ns::Result<ns::Value> parsed = ns::JSONSerialization::read(body);
    if (!parsed || !parsed->isDictionary()) return httpError();
    const ns::Value& answer = *parsed;

    if (std::optional<std::string> code = text(answer, "error")) {
        const std::optional<std::string> description = text(answer, "error_description");
        const int64_t errorCode = (*code == "invalid_grant" && request.refreshToken)
                                      ? DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED
                                      : DS_ERROR_SERVER_OAUTH;
        return fail(DSAuthenticationError::errorFromAuthenticationError(
            errorCode, code, description.value_or(*code), correlationId));
    }
    if (statusCode != 200) return httpError();

    const std::optional<std::string> accessToken = text(answer, "access_token");
    if (dsIsStringNilOrBlank(accessToken)) {
        return fail(DSAuthenticationError::errorFromAuthenticationError(
            DS_ERROR_UNEXPECTED, std::nullopt, "The server returned without providing an error.",
            correlationId));
    }

    auto item = std::make_shared<DSTokenCacheItem>();
    item->setAuthority(request.authority);
    const std::optional<std::string> resource = text(answer, "resource");
    item->setResource(resource ? resource : request.resource);
    item->setClientId(request.clientId);
    item->setAccessToken(accessToken);
    item->setAccessTokenType(text(answer, "token_type").value_or("Bearer"));
    const std::optional<std::string> refreshToken = text(answer, "refresh_token");
    item->setRefreshToken(refreshToken ? refreshToken : request.refreshToken);
    if (std::optional<double> expiresIn = seconds(answer, "expires_in")) {
        item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(*expiresIn));
    } else if (std::optional<double> expiresOn = seconds(answer, "expires_on")) {
        item->setExpiresOn(ns::Date::fromTimeIntervalSince1970(*expiresOn));
    } else {
        // Without a lifetime the token is used once and then refreshed.
        item->setExpiresOn(ns::Date::now());
    }
    if (std::optional<std::string> idToken = text(answer, "id_token")) {
        std::optional<DSAuthenticationError> error;
        auto info = DSUserInformation::initWithIdToken(idToken, &error);
        if (!info) return fail(error ? *error : DSUserInformation::invalidIdTokenError());
        item->setUserInformation(info);
    } else if (request.previous) {
        item->setUserInformation(request.previous->userInformation());
    }
    item->setFamilyId(text(answer, "foci"));

    const bool multiResource = resource.has_value() && !dsIsStringNilOrBlank(item->refreshToken());
    return DSAuthenticationResult::resultFromTokenCacheItem(item, multiResource, correlationId);
}
