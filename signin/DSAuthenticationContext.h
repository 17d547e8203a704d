#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationResult.h"
#include "signin/DSTokenCacheAccessor.h"
#include "signin/DSTokenCacheDataSource.h"
#include "signin/DSUserIdentifier.h"

class DSAuthenticationRequest;

// The library's entry object for one authority: what every token request for it shares, and
// the acquire operations that start those requests.
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
    static std::shared_ptr<DSAuthenticationContext> initWithAuthority(
        const std::optional<std::string>& authority, bool validateAuthority,
        std::shared_ptr<DSTokenCacheDataSource> tokenCache, DSErrorOut error);

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
                                  int32_t promptBehavior,
                                  std::shared_ptr<const DSUserIdentifier> userIdentifier,
                                  const std::optional<std::string>& extraQueryParameters,
                                  Completion completionBlock);
    void acquireTokenForAssertion(const std::optional<std::string>& assertion,
                                  int32_t assertionType, const std::optional<std::string>& resource,
                                  const std::optional<std::string>& clientId,
                                  const std::optional<std::string>& userId,
                                  Completion completionBlock);

    std::shared_ptr<DSAuthenticationRequest> requestWithRedirectString(
        const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
        const std::optional<std::string>& resource, const Completion& completionBlock);

    DSAuthenticationContext(std::string authority, bool validateAuthority);

private:
    // Steps 2 to 5 of every acquire call; nothing when the completion has had its answer.
    std::shared_ptr<DSAuthenticationRequest> startAcquire(
        const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
        const std::optional<std::string>& resource, const Completion& completionBlock);
    bool failIfBlank(const std::optional<std::string>& value, const std::string& message,
                     const Completion& completionBlock) const;

    const std::string authority_;
    bool validateAuthority_;
    int32_t credentialsType_ = 0;
    bool extendedLifetimeEnabled_ = false;
    mutable std::mutex lock_;
    std::shared_ptr<DSTokenCacheAccessor> tokenCacheStore_;
    std::optional<std::string> logComponent_;
    std::optional<ns::UUID> correlationId_;
};
