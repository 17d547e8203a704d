#pragma once

#include "signin/DSTelemetryDefaultEvent.h"

// The telemetry event of one token cache look-up, write or removal.
class DSTelemetryCacheEvent : public DSTelemetryDefaultEvent {
public:
    using DSTelemetryDefaultEvent::DSTelemetryDefaultEvent;

    void setTokenType(const std::optional<std::string>& v) { setProperty("token_type", v); }
    void setStatus(const std::optional<std::string>& v) { setProperty("status", v); }
    void setIsRT(const std::optional<std::string>& v) { setProperty("is_rt", v); }
    void setIsMRRT(const std::optional<std::string>& v) { setProperty("is_mrrt", v); }
    void setIsFRT(const std::optional<std::string>& v) { setProperty("is_frt", v); }
    void setRTStatus(const std::optional<std::string>& v) { setProperty("token_rt_status", v); }
    void setMRRTStatus(const std::optional<std::string>& v) { setProperty("token_mrrt_status", v); }
    void setFRTStatus(const std::optional<std::string>& v) { setProperty("token_frt_status", v); }

    void addAggregatedPropertiesToDictionary(
        std::vector<DSTelemetryProperty>& aggregated) const override;
};
