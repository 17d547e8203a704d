#include "signin/DSTelemetryHttpEvent.h"

#include <regex>

namespace {

// The directory service's default tenant domain suffix.
constexpr const char* kDefaultTenantDomain = "directory.example";

}  // namespace

std::string DSTelemetryHttpEvent::scrubTenantFromUrl(const std::string& url) {
    std::string suffix;
    for (char c : std::string(kDefaultTenantDomain)) {
        if (c == '.') suffix += "\\";
        suffix += c;
    }
    static const auto& pattern = *new std::regex("/[^/.]+." + suffix, std::regex::icase);
    return std::regex_replace(url, pattern, std::string("/*.") + kDefaultTenantDomain);
}

void DSTelemetryHttpEvent::addAggregatedPropertiesToDictionary(
    std::vector<DSTelemetryProperty>& aggregated) const {
    DSTelemetryDefaultEvent::addAggregatedPropertiesToDictionary(aggregated);
    raiseCount(aggregated, "http_event_count");
    copyIfPresent(aggregated, "oauth_error_code");
    copyIfPresent(aggregated, "http_error_domain");
}
