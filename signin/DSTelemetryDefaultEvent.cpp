#include "signin/DSTelemetryDefaultEvent.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ui/Device.h"
#include "signin/DSLogger.h"
#include "signin/DSRequestContext.h"
#include "signin/DSStringHelpers.h"

namespace {

std::string utcMillisText(const ns::Date& date) {
    const double seconds = date.timeIntervalSince1970();
    double whole = 0;
    const double fraction = std::modf(seconds, &whole);
    const std::time_t t = static_cast<std::time_t>(whole);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return ns::format("%s.%04d", text, static_cast<int>(fraction * 10000));
}

}  // namespace

DSTelemetryDefaultEvent::DSTelemetryDefaultEvent(const std::optional<std::string>& name,
                                                 const std::optional<std::string>& requestId,
                                                 const std::optional<ns::UUID>& correlationId)
    : propertyMap_(defaultParameters()) {
    if (requestId) setProperty("request_id", *requestId);
    if (correlationId) setProperty("correlation_id", correlationId->UUIDString());
    defaultPropertyCount_ = static_cast<int64_t>(propertyMap_.size());
    if (name) setProperty("event_name", *name);
}

DSTelemetryDefaultEvent::DSTelemetryDefaultEvent(const std::optional<std::string>& name,
                                                 const DSRequestContext& context)
    : DSTelemetryDefaultEvent(name, context.telemetryRequestId(), context.correlationId()) {}

void DSTelemetryDefaultEvent::setProperty(const std::string& name,
                                          const std::optional<std::string>& value) {
    if (dsIsStringNilOrBlank(name) || !value) return;
    propertyMap_.push_back({name, *value});
}

void DSTelemetryDefaultEvent::setStartTime(const std::optional<ns::Date>& time) {
    if (time) setProperty("start_time", utcMillisText(*time));
}

void DSTelemetryDefaultEvent::setStopTime(const std::optional<ns::Date>& time) {
    if (time) setProperty("stop_time", utcMillisText(*time));
}

void DSTelemetryDefaultEvent::setResponseTime(double seconds) {
    setProperty("response_time", ns::format("%f", seconds * 1000));
}

std::optional<std::string> DSTelemetryDefaultEvent::property(const std::string& name) const {
    return get(propertyMap_, name);
}

void DSTelemetryDefaultEvent::addAggregatedPropertiesToDictionary(
    std::vector<DSTelemetryProperty>& aggregated) const {
    const size_t count = std::min(propertyMap_.size(), static_cast<size_t>(defaultPropertyCount_));
    for (size_t i = 0; i < count; ++i) put(aggregated, propertyMap_[i].name, propertyMap_[i].value);
}

const std::vector<DSTelemetryProperty>& DSTelemetryDefaultEvent::defaultParameters() {
    static const std::vector<DSTelemetryProperty>* defaults = [] {
        auto* list = new std::vector<DSTelemetryProperty>();
        if (const auto& vendor = ui::Device::current().identifierForVendor())
            list->push_back({"device_id", dsComputeSHA256(vendor->UUIDString())});
        std::shared_ptr<ns::Bundle> bundle = ns::Bundle::mainBundle();
        if (bundle) {
            if (std::optional<std::string> id = bundle->bundleIdentifier())
                list->push_back({"application_name", *id});
            if (const std::string* version =
                    bundle->objectForInfoDictionaryKey("CFBundleVersion").string())
                list->push_back({"application_version", *version});
        }
        for (const auto& [key, value] : DSLogger::salId()) {
            if (const std::string* text = value.string()) list->push_back({key, *text});
        }
        return list;
    }();
    return *defaults;
}

void DSTelemetryDefaultEvent::put(std::vector<DSTelemetryProperty>& record, const std::string& name,
                                  const std::string& value) {
    for (DSTelemetryProperty& p : record) {
        if (p.name == name) {
            p.value = value;
            return;
        }
    }
    record.push_back({name, value});
}

std::optional<std::string> DSTelemetryDefaultEvent::get(
    const std::vector<DSTelemetryProperty>& record, const std::string& name) {
    for (const DSTelemetryProperty& p : record) {
        if (p.name == name) return p.value;
    }
    return std::nullopt;
}

void DSTelemetryDefaultEvent::copyIfPresent(std::vector<DSTelemetryProperty>& record,
                                            const std::string& name) const {
    if (std::optional<std::string> value = property(name)) put(record, name, *value);
}

void DSTelemetryDefaultEvent::raiseCount(std::vector<DSTelemetryProperty>& record,
                                         const std::string& name) {
    const std::optional<std::string> current = get(record, name);
    const int count = current ? std::atoi(current->c_str()) + 1 : 1;
    put(record, name, ns::format("%d", count));
}
