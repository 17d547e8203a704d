#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/UUID.h"
#include "signin/DSRequestContext.h"

class DSUserIdentifier;
class DSTokenCacheAccessor;

// The parameters of one token request; also the context from which its web requests and
// cache operations take their correlation id and telemetry request id. One request owns its
// parameters, so nothing here is locked.
class DSRequestParameters : public DSRequestContext {
public:
    DSRequestParameters() = default;
    DSRequestParameters(const std::optional<std::string>& authority,
                        const std::optional<std::string>& resource,
                        const std::optional<std::string>& clientId,
                        const std::optional<std::string>& redirectUri,
                        std::shared_ptr<const DSUserIdentifier> identifier,
                        std::shared_ptr<DSTokenCacheAccessor> tokenCache, bool extendedLifetime,
                        const std::optional<ns::UUID>& correlationId,
                        const std::optional<std::string>& telemetryRequestId);

    const std::optional<std::string>& authority() const { return authority_; }
    void setAuthority(const std::optional<std::string>& v) { authority_ = v; }
    const std::optional<std::string>& resource() const { return resource_; }
    void setResource(const std::optional<std::string>& v);
    const std::optional<std::string>& clientId() const { return clientId_; }
    void setClientId(const std::optional<std::string>& v);
    const std::optional<std::string>& redirectUri() const { return redirectUri_; }
    void setRedirectUri(const std::optional<std::string>& v);
    const std::shared_ptr<const DSUserIdentifier>& identifier() const { return identifier_; }
    void setIdentifier(std::shared_ptr<const DSUserIdentifier> v) { identifier_ = std::move(v); }
    const std::shared_ptr<DSTokenCacheAccessor>& tokenCache() const { return tokenCache_; }
    void setTokenCache(std::shared_ptr<DSTokenCacheAccessor> v) { tokenCache_ = std::move(v); }
    bool extendedLifetime() const { return extendedLifetime_; }
    void setExtendedLifetime(bool v) { extendedLifetime_ = v; }
    std::optional<ns::UUID> correlationId() const override { return correlationId_; }
    void setCorrelationId(const std::optional<ns::UUID>& v) { correlationId_ = v; }
    std::optional<std::string> telemetryRequestId() const override { return telemetryRequestId_; }
    void setTelemetryRequestId(const std::optional<std::string>& v) { telemetryRequestId_ = v; }

    // A copy that shares the token cache (and the identifier, which is immutable).
    std::shared_ptr<DSRequestParameters> copy() const;

private:
    std::optional<std::string> authority_;
    std::optional<std::string> resource_;
    std::optional<std::string> clientId_;
    std::optional<std::string> redirectUri_;
    std::shared_ptr<const DSUserIdentifier> identifier_;
    std::shared_ptr<DSTokenCacheAccessor> tokenCache_;
    bool extendedLifetime_ = false;
    std::optional<ns::UUID> correlationId_;
    std::optional<std::string> telemetryRequestId_;
};
