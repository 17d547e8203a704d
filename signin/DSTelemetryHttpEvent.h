#pragma once

#include "signin/DSTelemetryDefaultEvent.h"

// The telemetry event of one web request.
class DSTelemetryHttpEvent : public DSTelemetryDefaultEvent {
public:
    using DSTelemetryDefaultEvent::DSTelemetryDefaultEvent;

    void setHttpMethod(const std::optional<std::string>& v) { setProperty("http_method", v); }
    void setHttpPath(const std::optional<std::string>& v) { setProperty("http_path", v); }
    void setHttpRequestIdHeader(const std::optional<std::string>& v) {
        setProperty("x-ds-request-id", v);
    }
    void setHttpResponseCode(const std::optional<std::string>& v) {
        setProperty("http_response_code", v);
    }
    void setOAuthErrorCode(const std::optional<std::string>& v) {
        setProperty("oauth_error_code", v);
    }
    void setHttpResponseMethod(const std::optional<std::string>& v) {
        setProperty("http_response_method", v);
    }
    void setHttpRequestQueryParams(const std::optional<std::string>& v) {
        setProperty("request_query_params", v);
    }
    void setHttpUserAgent(const std::optional<std::string>& v) { setProperty("user_agent", v); }
    void setHttpErrorDomain(const std::optional<std::string>& v) {
        setProperty("http_error_domain", v);
    }

    // The URL with the tenant of the directory's default tenant domain masked ("/*.<domain>").
    static std::string scrubTenantFromUrl(const std::string& url);

    void addAggregatedPropertiesToDictionary(
        std::vector<DSTelemetryProperty>& aggregated) const override;
};
