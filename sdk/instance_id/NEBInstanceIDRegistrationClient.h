#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "sdk/core/NEBRequestSession.h"

namespace net {
class URLRequest;
}  // namespace net

class NEBInstanceIDAuthService;
class NEBInstanceIDKeyPair;

// One exchange with the registration endpoint for one (entity, scope): fetch a token or delete
// one, with a signed form body and the device's check-in credentials, on a request session with
// the registration limits of the auth service's services. Every handler runs on the main queue.
class NEBInstanceIDRegistrationClient
    : public std::enable_shared_from_this<NEBInstanceIDRegistrationClient> {
public:
    using TokenHandler = std::function<void(std::optional<std::string>, std::optional<ns::Error>)>;
    using DeleteHandler = std::function<void(std::optional<ns::Error>)>;

    // What a token answer asks of instance identity besides the token.
    enum class TokenCommand { None, Sync, Reset };
    struct ParsedToken {
        std::optional<std::string> token;
        TokenCommand command = TokenCommand::None;
    };

    NEBInstanceIDRegistrationClient(std::shared_ptr<NEBInstanceIDAuthService> authService,
                                    std::string authorizedEntity, std::string scope,
                                    std::shared_ptr<NEBInstanceIDKeyPair> keyPair);
    ~NEBInstanceIDRegistrationClient();

    const std::string& authorizedEntity() const { return authorizedEntity_; }
    const std::string& scope() const { return scope_; }
    const std::shared_ptr<NEBInstanceIDKeyPair>& keyPair() const { return keyPair_; }

    void fetchTokenWithHandler(TokenHandler handler);
    void deleteTokenWithHandler(DeleteHandler handler);
    // On a session of its own with these (registration) limits.
    static void deleteMSGTokenOnAppResetWithDeviceID(const std::string& deviceID,
                                                     const std::string& secretToken,
                                                     const NEBRequestLimits& limits,
                                                     DeleteHandler handler);
    static void deleteMSGTokenOnAppReset(const std::string& deviceID,
                                         const std::string& secretToken,
                                         const NEBRequestLimits& limits, DeleteHandler handler) {
        deleteMSGTokenOnAppResetWithDeviceID(deviceID, secretToken, limits, std::move(handler));
    }
    void setOptionsForFetchingNewToken(ns::Dictionary options);
    // A request is in flight, or a retry of one is waiting.
    bool inProgress() const;
    void stopFetching();

    static std::string registrationClientKeyWithAuthorizedEntity(std::string_view entity,
                                                                 std::string_view scope);
    static uint64_t nextRequestID();
    static uint64_t requestID();

    // The form value as sent: text that would end or split a field ("&", "=", "%", CR, LF) is
    // percent-encoded; everything else goes as it is.
    static std::string formValue(std::string_view value);
    // The reply's key=value lines; a later line wins; anything after a second "=" is dropped.
    static std::map<std::string, std::string> parseFetchTokenResponse(std::string_view text);
    static ParsedToken parseToken(std::string_view token, uint64_t requestID);
    // "deleted=" at the start of the reply means success.
    static bool isDeleteSuccess(std::string_view text);
    // The options suffix: "&key=value" for "apns_token" and "nmp_app_id" with text or number
    // values.
    static std::string requestContentSuffixFromOptions(const ns::Dictionary& options);
    static std::string deleteRequestContentWithDeviceID(std::string_view deviceID,
                                                        std::string_view scope, uint64_t requestID);
    // "&appid=..&pub2=..&sig=.."; an empty sig when signing fails.
    static std::string publicKeyContent(const NEBInstanceIDKeyPair& keyPair);

    bool isWaitingToRetry() const { return retryPending_; }

private:
    static net::URLRequest requestWithAuthHeader(const std::string& authHeader);
    std::string HTTPAuthHeaderForAuthorizedEntity() const;
    void handleTokenReply(const ns::Result<NEBReply>& reply, uint64_t requestID,
                          const TokenHandler& handler);

    std::shared_ptr<NEBInstanceIDAuthService> authService_;
    const std::string authorizedEntity_;
    const std::string scope_;
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair_;
    mutable dispatch::Mutex mutex_;
    ns::Dictionary options_ GUARDED_BY(mutex_);
    NEBRequestSession session_;
    std::atomic<int32_t> retryCount_{0};
    std::atomic<bool> retryPending_{false};
};
