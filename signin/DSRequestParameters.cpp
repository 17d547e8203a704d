#include "signin/DSRequestParameters.h"

#include "signin/DSStringHelpers.h"

namespace {

std::optional<std::string> trimmed(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return dsTrimmedString(*text);
}

}  // namespace

DSRequestParameters::DSRequestParameters(const std::optional<std::string>& authority,
                                         const std::optional<std::string>& resource,
                                         const std::optional<std::string>& clientId,
                                         const std::optional<std::string>& redirectUri,
                                         std::shared_ptr<const DSUserIdentifier> identifier,
                                         std::shared_ptr<DSTokenCacheAccessor> tokenCache,
                                         bool extendedLifetime,
                                         const std::optional<ns::UUID>& correlationId,
                                         const std::optional<std::string>& telemetryRequestId) {
    setAuthority(authority);
    setResource(resource);
    setClientId(clientId);
    setRedirectUri(redirectUri);
    setIdentifier(std::move(identifier));
    setTokenCache(std::move(tokenCache));
    setExtendedLifetime(extendedLifetime);
    setCorrelationId(correlationId);
    setTelemetryRequestId(telemetryRequestId);
}

void DSRequestParameters::setResource(const std::optional<std::string>& v) {
    resource_ = trimmed(v);
}
void DSRequestParameters::setClientId(const std::optional<std::string>& v) {
    clientId_ = trimmed(v);
}
void DSRequestParameters::setRedirectUri(const std::optional<std::string>& v) {
    redirectUri_ = trimmed(v);
}

std::shared_ptr<DSRequestParameters> DSRequestParameters::copy() const {
    return std::make_shared<DSRequestParameters>(*this);
}
