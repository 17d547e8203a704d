#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/URL.h"
#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationResult.h"
#include "signin/DSTokenCacheAccessor.h"
#include "signin/DSTokenCacheDataSource.h"
#include "signin/DSTokenCacheDelegate.h"
#include "signin/DSUserIdentifier.h"

class DSAuthenticationRequest;

namespace ui {
class ViewController;
}  // namespace ui
namespace wk {
class WebView;
}  // namespace wk

// What an interactive request shows its sign-in page with (the values are ours to give).
enum DSPromptBehavior : int32_t {
    DS_PROMPT_AUTO = 0,             // a cached or refreshed token if there is one, else the page
    DS_PROMPT_ALWAYS = 1,           // the page, asking for the credentials again
    DS_PROMPT_REFRESH_SESSION = 2,  // the page, asking the service to refresh the session
    DS_FORCE_PROMPT = 3,            // the page, asking for the credentials again
};

// The library's entry object for one authority: what every token request for it shares, and
// the acquire operations that start those requests. Its first use writes the library's version
// to the system log.
class DSAuthenticationContext : public std::enable_shared_from_this<DSAuthenticationContext>,
                                public DSLogContext {
public:
    using Completion = std::function<void(std::shared_ptr<const DSAuthenticationResult>)>;

    static std::shared_ptr<DSAuthenticationContext> authenticationContextWithAuthority(
        const std::optional<std::string>& authority, DSErrorOut error);
    static std::shared_ptr<DSAuthenticationContext> authenticationContextWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority, DSErrorOut error);
    static std::shared_ptr<DSAuthenticationContext> authenticationContextWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority,
        const std::string& sharedGroup, DSErrorOut error);
    // Validates the authority, over the keychain cache of the sharing group. Its own name: as
    // an overload, a group given as a literal would choose the one with a validate flag.
    static std::shared_ptr<DSAuthenticationContext> authenticationContextWithAuthoritySharedGroup(
        const std::optional<std::string>& authority, const std::string& sharedGroup,
        DSErrorOut error);
    static std::shared_ptr<DSAuthenticationContext> initWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority,
        std::shared_ptr<DSTokenCacheDataSource> tokenCache, DSErrorOut error);
    // Over the default keychain cache; nothing, with an unexpected internal error, when that
    // cannot be made.
    static std::shared_ptr<DSAuthenticationContext> initWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority, DSErrorOut error);
    // Over the keychain cache of a sharing group, or over a new archivable cache whose blob the
    // delegate keeps.
    static std::shared_ptr<DSAuthenticationContext> initWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority,
        const std::string& sharedGroup, DSErrorOut error);
    static std::shared_ptr<DSAuthenticationContext> initWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority,
        std::shared_ptr<DSTokenCacheDelegate> cacheDelegate, DSErrorOut error);

    std::shared_ptr<DSTokenCacheAccessor> tokenCacheStore() const;
    void setTokenCacheStore(std::shared_ptr<DSTokenCacheDataSource> dataSource);

    const std::string& authority() const { return authority_; }
    bool validateAuthority() const { return validateAuthority_; }
    void setValidateAuthority(bool v) { validateAuthority_ = v; }
    int32_t credentialsType() const { return credentialsType_; }
    void setCredentialsType(int32_t v) { credentialsType_ = v; }
    bool extendedLifetimeEnabled() const { return extendedLifetimeEnabled_; }
    void setExtendedLifetimeEnabled(bool v) { extendedLifetimeEnabled_ = v; }
    std::optional<std::string> logComponent() const;
    void setLogComponent(const std::optional<std::string>& v);
    std::optional<ns::UUID> correlationId() const;
    void setCorrelationId(const std::optional<ns::UUID>& v);
    std::optional<std::string> component() const override { return logComponent(); }
    // Where the interactive sign-in shows its page: in this web view when set, else over this
    // controller when set, else in a window of its own. Both go away with their owners.
    std::shared_ptr<wk::WebView> webView() const;
    void setWebView(const std::shared_ptr<wk::WebView>& webView);
    std::shared_ptr<ui::ViewController> parentController() const;
    void setParentController(const std::shared_ptr<ui::ViewController>& controller);

    void acquireTokenSilentWithResource(const std::optional<std::string>& resource,
                                        const std::optional<std::string>& clientId,
                                        const std::optional<std::string>& redirectUri,
                                        Completion completionBlock);
    void acquireTokenSilentWithResource(const std::optional<std::string>& resource,
                                        const std::optional<std::string>& clientId,
                                        const std::optional<std::string>& redirectUri,
                                        const std::optional<std::string>& userId,
                                        Completion completionBlock);
    void acquireTokenWithResource(const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& redirectUri,
                                  Completion completionBlock);
    void acquireTokenWithResource(const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& redirectUri,
                                  const std::optional<std::string>& userId,
                                  Completion completionBlock);
    void acquireTokenWithResource(const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& redirectUri,
                                  const std::optional<std::string>& userId,
                                  const std::optional<std::string>& extraQueryParameters,
                                  Completion completionBlock);
    void acquireTokenWithResource(const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& redirectUri,
                                  int32_t promptBehavior, const std::optional<std::string>& userId,
                                  const std::optional<std::string>& extraQueryParameters,
                                  Completion completionBlock);
    void acquireTokenWithResource(const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& redirectUri,
                                  int32_t promptBehavior,
                                  std::shared_ptr<const DSUserIdentifier> userIdentifier,
                                  const std::optional<std::string>& extraQueryParameters,
                                  Completion completionBlock);
    void acquireTokenForAssertion(const std::optional<std::string>& assertion,
                                  int32_t assertionType, const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& userId,
                                  Completion completionBlock);

    std::shared_ptr<DSAuthenticationRequest> requestWithRedirectUrl(
        const std::optional<ns::URL>& redirectUri, const std::optional<std::string>& clientId,
        const std::optional<std::string>& resource, const Completion& completionBlock);
    std::shared_ptr<DSAuthenticationRequest> requestWithRedirectString(
        const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
        const std::optional<std::string>& resource, const Completion& completionBlock);

    // Broker answers: the broker application is outside this program, so no URL is one.
    static constexpr const char* kBrokerApplication = "com.directory.authenticator";
    static bool isResponseFromBroker(const std::optional<std::string>& sourceApplication,
                                     const std::optional<ns::URL>& response);
    static bool handleBrokerResponse(const ns::URL& response);

    DSAuthenticationContext(std::string authority, bool validateAuthority);

private:
    // Steps 2 to 5 of every acquire call; nothing when the completion has had its answer.
    // The request of an interactive variant, its options set, handed to the acquisition core.
    void acquireInteractive(const std::optional<std::string>& resource,
                            const std::optional<std::string>& clientId,
                            const std::optional<std::string>& redirectUri, int32_t promptBehavior,
                            std::shared_ptr<const DSUserIdentifier> userIdentifier,
                            const std::optional<std::string>& extraQueryParameters,
                            const char* methodName, const char* apiId, Completion completionBlock);
    std::shared_ptr<DSAuthenticationRequest> startAcquire(
        const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
        const std::optional<std::string>& resource, const Completion& completionBlock);
    bool failIfBlank(const std::optional<std::string>& value, const std::string& message,
                     const Completion& completionBlock) const;

    const std::string authority_;
    bool validateAuthority_;
    int32_t credentialsType_ = 0;
    bool extendedLifetimeEnabled_ = false;
    mutable dispatch::Mutex lock_;
    std::shared_ptr<DSTokenCacheAccessor> tokenCacheStore_ GUARDED_BY(lock_);
    std::optional<std::string> logComponent_ GUARDED_BY(lock_);
    std::optional<ns::UUID> correlationId_ GUARDED_BY(lock_);
    std::weak_ptr<wk::WebView> webView_ GUARDED_BY(lock_);
    std::weak_ptr<ui::ViewController> parentController_ GUARDED_BY(lock_);
};
