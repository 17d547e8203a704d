#include "signin/DSAuthenticationError.h"

#include "platform/ns/Format.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

// Each code with the name of its constant, written once.
#define DS_NAMED_CODE(code) \
    { code, #code }
constexpr std::pair<int32_t, const char*> kCodeNames[] = {
    DS_NAMED_CODE(DS_ERROR_UNEXPECTED),
    DS_NAMED_CODE(DS_ERROR_SUCCEEDED),
    DS_NAMED_CODE(DS_ERROR_DEVELOPER_INVALID_ARGUMENT),
    DS_NAMED_CODE(DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION),
    DS_NAMED_CODE(DS_ERROR_SERVER_USER_INPUT_NEEDED),
    DS_NAMED_CODE(DS_ERROR_SERVER_WPJ_REQUIRED),
    DS_NAMED_CODE(DS_ERROR_SERVER_OAUTH),
    DS_NAMED_CODE(DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED),
    DS_NAMED_CODE(DS_ERROR_SERVER_WRONG_USER),
    DS_NAMED_CODE(DS_ERROR_SERVER_NON_HTTPS_REDIRECT),
    DS_NAMED_CODE(DS_ERROR_SERVER_INVALID_ID_TOKEN),
    DS_NAMED_CODE(DS_ERROR_SERVER_MISSING_AUTHENTICATE_HEADER),
    DS_NAMED_CODE(DS_ERROR_SERVER_AUTHENTICATE_HEADER_BAD_FORMAT),
    DS_NAMED_CODE(DS_ERROR_SERVER_UNAUTHORIZED_CODE_EXPECTED),
    DS_NAMED_CODE(DS_ERROR_SERVER_UNSUPPORTED_REQUEST),
    DS_NAMED_CODE(DS_ERROR_SERVER_AUTHORIZATION_CODE),
    DS_NAMED_CODE(DS_ERROR_CACHE_MULTIPLE_USERS),
    DS_NAMED_CODE(DS_ERROR_CACHE_VERSION_MISMATCH),
    DS_NAMED_CODE(DS_ERROR_CACHE_BAD_FORMAT),
    DS_NAMED_CODE(DS_ERROR_CACHE_NO_REFRESH_TOKEN),
    DS_NAMED_CODE(DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS),
    DS_NAMED_CODE(DS_ERROR_UI_NO_MAIN_VIEW_CONTROLLER),
    DS_NAMED_CODE(DS_ERROR_UI_NOT_SUPPORTED_IN_APP_EXTENSION),
    DS_NAMED_CODE(DS_ERROR_UI_USER_CANCEL),
    DS_NAMED_CODE(DS_ERROR_UI_NOT_ON_MAIN_THREAD),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_UNKNOWN),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_INVALID_REDIRECT_URI),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_RESPONSE_HASH_MISMATCH),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_RESPONSE_NOT_RECEIVED),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_FAILED_TO_CREATE_KEY),
    DS_NAMED_CODE(DS_ERROR_TOKENBROKER_DECRYPTION_FAILED),
};
#undef DS_NAMED_CODE

}  // namespace

std::optional<std::string> dsErrorCodeName(int64_t code) {
    for (const auto& [value, name] : kCodeNames) {
        if (value == static_cast<int32_t>(code)) return name;
    }
    return std::nullopt;
}

DSAuthenticationError DSAuthenticationError::initInternal(
    const std::optional<std::string>& domain, int64_t code,
    const std::optional<std::string>& protocolCode, const std::optional<std::string>& errorDetails,
    const std::optional<ns::UUID>& correlationId, const ns::Dictionary& userInfo, bool quiet) {
    DSAuthenticationError error(domain.value_or("SAL"), code, userInfo);
    error.protocolCode_ = protocolCode;
    error.errorDetails_ = errorDetails;
    if (!quiet) {
        // The log's user information carries the error's description: the dictionary type
        // holds values, not error objects.
        ns::Dictionary logInfo{{"error", error.description()}};
        if (correlationId) logInfo["correlationId"] = correlationId->UUIDString();
        DSLogger::log(
            DS_LOG_LEVEL_ERROR, nullptr,
            ns::format(
                "Error raised: (Domain: \"%@\" Code: %@ ProtocolCode: \"%@\" Details: \"%@\"",
                error.domain(), getStringForErrorCode(code, error.domain()),
                protocolCode ? ns::FormatArg(*protocolCode) : ns::FormatArg(nullptr),
                errorDetails ? ns::FormatArg(*errorDetails) : ns::FormatArg(nullptr)),
            code, std::nullopt, correlationId, &logInfo);
    }
    return error;
}

DSAuthenticationError DSAuthenticationError::errorWithDomainInternal(
    const std::optional<std::string>& domain, int64_t code,
    const std::optional<std::string>& protocolCode, const std::optional<std::string>& errorDetails,
    const std::optional<ns::UUID>& correlationId, const ns::Dictionary& userInfo) {
    return initInternal(domain, code, protocolCode, errorDetails, correlationId, userInfo, false);
}

DSAuthenticationError DSAuthenticationError::errorFromArgument(
    const std::optional<std::string>& value, const std::string& argumentName,
    const std::optional<ns::UUID>& correlationId) {
    if (dsIsStringNilOrBlank(argumentName)) DSLogger::raiseInvalidArgument("argumentName");
    const std::string details = ns::format("The argument '%@' is invalid. Value:%@", argumentName,
                                           value ? ns::FormatArg(*value) : ns::FormatArg(nullptr));
    return initInternal(DSAuthenticationErrorDomain, DS_ERROR_DEVELOPER_INVALID_ARGUMENT,
                        std::nullopt, details, correlationId, {}, false);
}

DSAuthenticationError DSAuthenticationError::invalidArgumentError(
    const std::string& details, const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSAuthenticationErrorDomain, DS_ERROR_DEVELOPER_INVALID_ARGUMENT,
                        std::nullopt, details, correlationId, {}, false);
}

DSAuthenticationError DSAuthenticationError::errorFromNSError(
    const ns::Error& error, const std::string& details,
    const std::optional<ns::UUID>& correlationId) {
    return initInternal(error.domain(), error.code(), std::nullopt, details, correlationId,
                        error.userInfo(), false);
}

DSAuthenticationError DSAuthenticationError::errorFromAuthenticationError(
    int64_t code, const std::optional<std::string>& protocolCode,
    const std::optional<std::string>& details, const std::optional<ns::UUID>& correlationId,
    const ns::Dictionary& userInfo) {
    return initInternal(DSAuthenticationErrorDomain, code, protocolCode, details, correlationId,
                        userInfo, false);
}

DSAuthenticationError DSAuthenticationError::errorQuietWithAuthenticationError(
    int64_t code, const std::optional<std::string>& protocolCode,
    const std::optional<std::string>& details) {
    return initInternal(DSAuthenticationErrorDomain, code, protocolCode, details, std::nullopt, {},
                        true);
}

DSAuthenticationError DSAuthenticationError::unexpectedInternalError(
    const std::string& details, const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSAuthenticationErrorDomain, DS_ERROR_UNEXPECTED, std::nullopt, details,
                        correlationId, {}, false);
}

DSAuthenticationError DSAuthenticationError::errorFromCancellation(
    const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSAuthenticationErrorDomain, DS_ERROR_UI_USER_CANCEL, std::nullopt,
                        "The user has cancelled the authorization.", correlationId, {}, false);
}

DSAuthenticationError DSAuthenticationError::errorFromNonHttpsRedirect(
    const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSAuthenticationErrorDomain, DS_ERROR_SERVER_NON_HTTPS_REDIRECT,
                        std::nullopt, "The server has redirected to a non-https url.",
                        correlationId, {}, false);
}

DSAuthenticationError DSAuthenticationError::keychainErrorFromOperation(
    const std::string& operation, int32_t status, const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSKeychainErrorDomain, status, std::nullopt,
                        "Keychain failed during \"" + operation + "\" operation", correlationId, {},
                        false);
}

DSAuthenticationError DSAuthenticationError::HTTPErrorCode(
    int64_t status, const std::string& body, const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSHTTPErrorCodeDomain, status, std::nullopt, body, correlationId, {},
                        false);
}

DSAuthenticationError DSAuthenticationError::OAuthServerError(
    const std::optional<std::string>& protocolCode, const std::optional<std::string>& description,
    int64_t code, const std::optional<ns::UUID>& correlationId) {
    return initInternal(DSOAuthServerErrorDomain, code, protocolCode, description, correlationId,
                        {}, false);
}

std::string DSAuthenticationError::getStringForErrorCode(int64_t code, const std::string& domain) {
    if (domain == DSAuthenticationErrorDomain || domain == DSBrokerResponseErrorDomain ||
        domain == DSOAuthServerErrorDomain)
        return stringForADErrorCode(code);
    return ns::format("%ld", code);
}

std::string DSAuthenticationError::stringForADErrorCode(int64_t code) {
    if (std::optional<std::string> name = dsErrorCodeName(code)) return *name;
    return ns::format("%ld", code);
}

std::string DSAuthenticationError::description() const {
    auto optional = [](const std::optional<std::string>& text) {
        return text ? ns::FormatArg(*text) : ns::FormatArg(nullptr);
    };
    return ns::format(
        "Error with code: %@ Domain: %@ ProtocolCode:%@ Details:%@. Inner error "
        "details: %@",
        getStringForErrorCode(code(), domain()), domain(), optional(protocolCode_),
        optional(errorDetails_), ns::Error::description());
}
