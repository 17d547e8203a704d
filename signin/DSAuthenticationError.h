#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/UUID.h"
#include "platform/ns/Value.h"

inline constexpr const char* DSAuthenticationErrorDomain = "DSAuthenticationErrorDomain";
inline constexpr const char* DSOAuthServerErrorDomain = "DSOAuthServerErrorDomain";
inline constexpr const char* DSKeychainErrorDomain = "DSKeychainErrorDomain";
inline constexpr const char* DSHTTPErrorCodeDomain = "DSHTTPErrorCodeDomain";
inline constexpr const char* DSBrokerResponseErrorDomain = "DSBrokerResponseErrorDomain";

enum DSErrorCode : int32_t {
    DS_ERROR_UNEXPECTED = -1,
    DS_ERROR_SUCCEEDED = 0,
    DS_ERROR_DEVELOPER_INVALID_ARGUMENT = 100,
    DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION = 101,
    DS_ERROR_SERVER_USER_INPUT_NEEDED = 200,
    DS_ERROR_SERVER_WPJ_REQUIRED = 201,
    DS_ERROR_SERVER_OAUTH = 202,
    DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED = 203,
    DS_ERROR_SERVER_WRONG_USER = 204,
    DS_ERROR_SERVER_NON_HTTPS_REDIRECT = 205,
    DS_ERROR_SERVER_INVALID_ID_TOKEN = 206,
    DS_ERROR_SERVER_MISSING_AUTHENTICATE_HEADER = 207,
    DS_ERROR_SERVER_AUTHENTICATE_HEADER_BAD_FORMAT = 208,
    DS_ERROR_SERVER_UNAUTHORIZED_CODE_EXPECTED = 209,
    DS_ERROR_SERVER_UNSUPPORTED_REQUEST = 210,
    DS_ERROR_SERVER_AUTHORIZATION_CODE = 211,
    DS_ERROR_CACHE_MULTIPLE_USERS = 300,
    DS_ERROR_CACHE_VERSION_MISMATCH = 301,
    DS_ERROR_CACHE_BAD_FORMAT = 302,
    DS_ERROR_CACHE_NO_REFRESH_TOKEN = 303,
    DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS = 400,
    DS_ERROR_UI_NO_MAIN_VIEW_CONTROLLER = 401,
    DS_ERROR_UI_NOT_SUPPORTED_IN_APP_EXTENSION = 402,
    DS_ERROR_UI_USER_CANCEL = 403,
    DS_ERROR_UI_NOT_ON_MAIN_THREAD = 404,
    DS_ERROR_TOKENBROKER_UNKNOWN = 500,
    DS_ERROR_TOKENBROKER_INVALID_REDIRECT_URI = 501,
    DS_ERROR_TOKENBROKER_RESPONSE_HASH_MISMATCH = 502,
    DS_ERROR_TOKENBROKER_RESPONSE_NOT_RECEIVED = 503,
    DS_ERROR_TOKENBROKER_FAILED_TO_CREATE_KEY = 504,
    DS_ERROR_TOKENBROKER_DECRYPTION_FAILED = 505,
};

// A failure of the sign-in library: an error with the protocol's own code and details. Making
// one logs it once at ERROR level, unless it is made quiet.
class DSAuthenticationError : public ns::Error {
public:
    static DSAuthenticationError initInternal(const std::optional<std::string>& domain,
                                              int64_t code,
                                              const std::optional<std::string>& protocolCode,
                                              const std::optional<std::string>& errorDetails,
                                              const std::optional<ns::UUID>& correlationId,
                                              const ns::Dictionary& userInfo, bool quiet);

    static DSAuthenticationError errorWithDomainInternal(
        const std::optional<std::string>& domain, int64_t code,
        const std::optional<std::string>& protocolCode,
        const std::optional<std::string>& errorDetails,
        const std::optional<ns::UUID>& correlationId, const ns::Dictionary& userInfo);
    static DSAuthenticationError errorFromArgument(const std::optional<std::string>& value,
                                                   const std::string& argumentName,
                                                   const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError invalidArgumentError(const std::string& details,
                                                      const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError errorFromNSError(const ns::Error& error,
                                                  const std::string& details,
                                                  const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError errorFromAuthenticationError(
        int64_t code, const std::optional<std::string>& protocolCode,
        const std::optional<std::string>& details, const std::optional<ns::UUID>& correlationId,
        const ns::Dictionary& userInfo = {});
    static DSAuthenticationError errorQuietWithAuthenticationError(
        int64_t code, const std::optional<std::string>& protocolCode,
        const std::optional<std::string>& details);
    static DSAuthenticationError unexpectedInternalError(
        const std::string& details, const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError errorFromCancellation(
        const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError errorFromNonHttpsRedirect(
        const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError keychainErrorFromOperation(
        const std::string& operation, int32_t status, const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError HTTPErrorCode(int64_t status, const std::string& body,
                                               const std::optional<ns::UUID>& correlationId);
    static DSAuthenticationError OAuthServerError(const std::optional<std::string>& protocolCode,
                                                  const std::optional<std::string>& description,
                                                  int64_t code,
                                                  const std::optional<ns::UUID>& correlationId);

    const std::optional<std::string>& protocolCode() const { return protocolCode_; }
    const std::optional<std::string>& errorDetails() const { return errorDetails_; }

    static std::string getStringForErrorCode(int64_t code, const std::string& domain);
    static std::string stringForADErrorCode(int64_t code);
    std::string description() const;

private:
    DSAuthenticationError(std::string domain, int64_t code, ns::Dictionary userInfo)
        : ns::Error(std::move(domain), code, std::move(userInfo)) {}

    std::optional<std::string> protocolCode_;
    std::optional<std::string> errorDetails_;
};

// The name of a library error code (the code taken as a signed 32-bit number); nothing for a
// code the library does not name.
std::optional<std::string> dsErrorCodeName(int64_t code);

// An error out-parameter: null when the caller does not ask for the error.
using DSErrorOut = std::optional<DSAuthenticationError>*;

inline void dsSetError(DSErrorOut out, const DSAuthenticationError& error) {
    if (out) *out = error;
}
