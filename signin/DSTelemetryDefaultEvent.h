#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Date.h"
#include "platform/ns/UUID.h"
#include "signin/DSTelemetryProperty.h"

class DSRequestContext;

// A timed telemetry event: its default properties (device, application, client, request)
// first, then the ones its caller sets. Filled by one caller; not locked.
class DSTelemetryDefaultEvent {
public:
    DSTelemetryDefaultEvent(const std::optional<std::string>& name,
                            const std::optional<std::string>& requestId,
                            const std::optional<ns::UUID>& correlationId);
    DSTelemetryDefaultEvent(const std::optional<std::string>& name,
                            const DSRequestContext& context);
    virtual ~DSTelemetryDefaultEvent() = default;

    int64_t getDefaultPropertyCount() const { return defaultPropertyCount_; }
    void setProperty(const std::string& name, const std::optional<std::string>& value);
    const std::vector<DSTelemetryProperty>& getProperties() const { return propertyMap_; }
    void setStartTime(const std::optional<ns::Date>& time);
    void setStopTime(const std::optional<ns::Date>& time);
    void setResponseTime(double seconds);
    virtual void addAggregatedPropertiesToDictionary(
        std::vector<DSTelemetryProperty>& aggregated) const;

    // The value of the first property of that name.
    std::optional<std::string> property(const std::string& name) const;
    // Built once per process.
    static const std::vector<DSTelemetryProperty>& defaultParameters();

protected:
    // Sets the value under the name in an ordered record, adding it at the end when new.
    static void put(std::vector<DSTelemetryProperty>& record, const std::string& name,
                    const std::string& value);
    static std::optional<std::string> get(const std::vector<DSTelemetryProperty>& record,
                                          const std::string& name);
    void copyIfPresent(std::vector<DSTelemetryProperty>& record, const std::string& name) const;
    static void raiseCount(std::vector<DSTelemetryProperty>& record, const std::string& name);

private:
    std::vector<DSTelemetryProperty> propertyMap_;
    int64_t defaultPropertyCount_ = 0;
};
