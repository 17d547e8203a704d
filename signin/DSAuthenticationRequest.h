#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "signin/DSAuthenticationResult.h"
#include "signin/DSRequestContext.h"
#include "signin/DSRequestParameters.h"
#include "signin/DSUserIdentifier.h"
#include "signin/DSWebAuthController.h"

class DSAuthenticationContext;

// One token acquisition: the options its context set, then the flow that serves it from the
// cache, by redeeming a refresh token, with an assertion, or through the interactive sign-in
// page (prompt behaviour DS_PROMPT_AUTO tries the cache and refresh tokens first; the other
// values go to the page at once; a silent request never shows it). One flow owns a request; only
// the correlation and telemetry ids, read by lower layers from other queues, are locked.
class DSAuthenticationRequest : public DSRequestContext,
                                public std::enable_shared_from_this<DSAuthenticationRequest> {
public:
    using Completion = std::function<void(std::shared_ptr<const DSAuthenticationResult>)>;

    static std::shared_ptr<DSAuthenticationRequest> requestWithContext(
        std::shared_ptr<DSAuthenticationContext> context,
        std::shared_ptr<DSRequestParameters> requestParams, DSErrorOut error);
    // Without an error out-parameter: a missing context or client id is logged at ERROR ("...
    // must not be nil!") and gives nothing.
    static std::shared_ptr<DSAuthenticationRequest> initWithContext(
        std::shared_ptr<DSAuthenticationContext> context,
        std::shared_ptr<DSRequestParameters> requestParams);
    // A request of the context whose parameters hold nothing yet (no authority, client or
    // resource); nothing, with the ERROR line above, without a context.
    static std::shared_ptr<DSAuthenticationRequest> requestWithContext(
        std::shared_ptr<DSAuthenticationContext> context);
    // The same over a new context of the authority, over the default keychain cache and
    // without authority validation; nothing when no such context can be made.
    static std::shared_ptr<DSAuthenticationRequest> requestWithAuthority(
        const std::optional<std::string>& authority);

    void setScope(const std::optional<std::string>& scope);
    void setExtraQueryParameters(const std::optional<std::string>& queryParams);
    void setUserIdentifier(std::shared_ptr<const DSUserIdentifier> identifier);
    void setUserId(const std::optional<std::string>& userId);
    void setPromptBehavior(int32_t promptBehavior);
    void setSilent(bool silent);
    void setCorrelationId(const std::optional<ns::UUID>& correlationId);
    void setSamlAssertion(const std::optional<std::string>& assertion);
    void setAssertionType(int32_t assertionType);
    std::string logComponent() const;
    void setLogComponent(const std::optional<std::string>& component);

    std::optional<ns::UUID> correlationId() const override;
    std::optional<std::string> telemetryRequestId() const override;
    const std::shared_ptr<DSAuthenticationContext>& context() const { return context_; }
    const std::shared_ptr<DSRequestParameters>& requestParams() const { return requestParams_; }
    bool silent() const { return silent_; }
    int32_t promptBehavior() const { return promptBehavior_; }
    const std::optional<std::string>& scope() const { return scope_; }
    void ensureRequest();

    // Only one interactive prompt at a time, process-wide; never waits.
    bool takeExclusionLock(const Completion& completion);
    static void releaseExclusionLock();
    static std::shared_ptr<DSAuthenticationRequest> currentModalRequest();

    // Calls the completion exactly once, on this thread for an answer known at once and on a
    // web request's queue otherwise.
    void acquireToken(const std::string& methodName, const std::string& apiId,
                      Completion completionBlock);

    // Whether the URL was a broker's answer that was handled: never, as the broker application
    // is outside this program (logged, so that one that arrives is seen).
    static bool internalHandleBrokerResponse(const ns::URL& response);

    DSAuthenticationRequest(std::shared_ptr<DSAuthenticationContext> context,
                            std::shared_ptr<DSRequestParameters> requestParams);

private:
    using Next = std::function<void()>;

    bool startedWarning(const char* operation) const;
    void afterValidation();
    void lookUpAccessToken();
    void tryMultiResourceRefreshToken();
    void tryFamilyRefreshToken();
    void noTokenFound();
    // The interactive sign-in: on the main thread, under the exclusion lock, the sign-in page
    // until its end URL, then the code exchanged for tokens.
    void requestAuthorization();
    void showSignIn();
    void afterSignIn(const DSWebAuthController::Outcome& outcome, const std::string& state,
                     const std::string& verifier);
    void exchangeCode(const std::string& code, const std::string& verifier);
    std::optional<std::string> promptParameter() const;
    void redeemRefreshToken(const std::string& refreshToken,
                            std::shared_ptr<DSTokenCacheItem> cacheItem, Next onRejected);
    void redeemAssertion();
    void sendTokenRequest(std::map<std::string, std::string> form,
                          std::shared_ptr<DSTokenCacheItem> cacheItem,
                          std::optional<std::string> refreshToken, Next onRejected);
    void afterTokenResponse(std::shared_ptr<const DSAuthenticationResult> result,
                            std::shared_ptr<DSTokenCacheItem> cacheItem,
                            const std::optional<std::string>& refreshToken, const Next& onRejected);
    void finish(std::shared_ptr<const DSAuthenticationResult> result);
    void finishWithError(const DSAuthenticationError& error);
    std::string tokenEndpoint() const;

    std::shared_ptr<DSAuthenticationContext> context_;
    std::shared_ptr<DSRequestParameters> requestParams_;
    int32_t promptBehavior_ = 0;
    std::optional<std::string> scope_;
    std::optional<std::string> queryParams_;
    std::optional<std::string> samlAssertion_;
    int32_t assertionType_ = 0;
    bool silent_ = false;
    bool requestStarted_ = false;
    bool attemptedFRT_ = false;
    std::shared_ptr<DSTokenCacheItem> mrrtItem_;
    std::optional<DSAuthenticationError> underlyingError_;

    mutable dispatch::Mutex idsLock_;
    std::string logComponent_ GUARDED_BY(idsLock_);
    Completion completion_;
    std::atomic<bool> completed_{false};
};
