#include "sdk/core/NEBServiceHosts.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/ns/Bundle.h"

namespace {

struct Service {
    const char* infoKey;
    const char* variable;
    const char* fallback;
};

constexpr Service kMeasurementUpload{NEBServiceHosts::kMeasurementUploadHostKey,
                                     NEBServiceHosts::kMeasurementUploadHostVariable,
                                     "app-measurement.nebula.invalid"};
constexpr Service kLogbook{NEBServiceHosts::kLogbookServerURLKey,
                           NEBServiceHosts::kLogbookServerURLVariable,
                           "https://logbook.nebula.invalid/log"};
constexpr Service kConsole{NEBServiceHosts::kConsoleURLKey, NEBServiceHosts::kConsoleURLVariable,
                           "https://console.nebula.invalid"};

struct Hosts {
    std::mutex mutex;
    std::optional<std::string> measurementUploadHost;
    std::optional<std::string> logbookServerURL;
    std::optional<std::string> consoleURL;
};

Hosts& hosts() {
    static auto* h = new Hosts;
    return *h;
}

std::string get(std::optional<std::string> Hosts::*field, const Service& service) {
    {
        std::lock_guard lock(hosts().mutex);
        if (const auto& set = hosts().*field) return *set;
    }
    if (const char* value = std::getenv(service.variable); value && *value) return value;
    if (auto bundle = ns::Bundle::mainBundle()) {
        const ns::Value& configured = bundle->objectForInfoDictionaryKey(
            NEBServiceHosts::kInfoDictionaryKey)[service.infoKey];
        if (const std::string* text = configured.string(); text && !text->empty()) return *text;
    }
    return service.fallback;
}

void set(std::optional<std::string> Hosts::*field, std::string value) {
    std::lock_guard lock(hosts().mutex);
    hosts().*field = std::move(value);
}

}  // namespace

std::string NEBServiceHosts::measurementUploadHost() {
    return get(&Hosts::measurementUploadHost, kMeasurementUpload);
}

void NEBServiceHosts::setMeasurementUploadHost(std::string host) {
    set(&Hosts::measurementUploadHost, std::move(host));
}

std::string NEBServiceHosts::logbookServerURL() {
    return get(&Hosts::logbookServerURL, kLogbook);
}

void NEBServiceHosts::setLogbookServerURL(std::string url) {
    set(&Hosts::logbookServerURL, std::move(url));
}

std::string NEBServiceHosts::consoleURL() {
    return get(&Hosts::consoleURL, kConsole);
}

void NEBServiceHosts::setConsoleURL(std::string url) {
    set(&Hosts::consoleURL, std::move(url));
}

void NEBServiceHosts::reset() {
    std::lock_guard lock(hosts().mutex);
    hosts().measurementUploadHost.reset();
    hosts().logbookServerURL.reset();
    hosts().consoleURL.reset();
}
