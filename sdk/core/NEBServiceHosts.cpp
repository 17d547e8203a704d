#include "sdk/core/NEBServiceHosts.h"

#include <cstdlib>

#include "platform/ns/Bundle.h"

const NEBServiceHosts::Service NEBServiceHosts::kMeasurementUpload{
    &NEBServiceHosts::measurementUploadHost_, kMeasurementUploadHostKey,
    kMeasurementUploadHostVariable, "app-measurement.nebula.invalid"};
const NEBServiceHosts::Service NEBServiceHosts::kLogbook{
    &NEBServiceHosts::logbookServerURL_, kLogbookServerURLKey, kLogbookServerURLVariable,
    "https://logbook.nebula.invalid/log"};
const NEBServiceHosts::Service NEBServiceHosts::kConsole{&NEBServiceHosts::consoleURL_,
                                                         kConsoleURLKey, kConsoleURLVariable,
                                                         "https://console.nebula.invalid"};

std::string NEBServiceHosts::get(const Service& service) {
    {
        auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
        std::lock_guard lock(hosts.mutex_);
        if (const auto& set = hosts.*service.field) return *set;
    }
    if (const char* value = std::getenv(service.variable); value && *value) return value;
    if (auto bundle = ns::Bundle::mainBundle()) {
        const ns::Value& configured =
            bundle->objectForInfoDictionaryKey(kInfoDictionaryKey)[service.infoKey];
        if (const std::string* text = configured.string(); text && !text->empty()) return *text;
    }
    return service.fallback;
}

void NEBServiceHosts::set(const Service& service, std::string value) {
    auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
    std::lock_guard lock(hosts.mutex_);
    hosts.*service.field = std::move(value);
}

std::string NEBServiceHosts::measurementUploadHost() {
    return get(kMeasurementUpload);
}

void NEBServiceHosts::setMeasurementUploadHost(std::string host) {
    set(kMeasurementUpload, std::move(host));
}

std::string NEBServiceHosts::logbookServerURL() {
    return get(kLogbook);
}

void NEBServiceHosts::setLogbookServerURL(std::string url) {
    set(kLogbook, std::move(url));
}

std::string NEBServiceHosts::consoleURL() {
    return get(kConsole);
}

void NEBServiceHosts::setConsoleURL(std::string url) {
    set(kConsole, std::move(url));
}
