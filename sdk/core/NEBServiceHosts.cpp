#include "sdk/core/NEBServiceHosts.h"

#include <cstdlib>

#include "platform/net/HostNames.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"

const std::array<NEBServiceHosts::Lookup, NEBServiceHosts::kServiceCount> NEBServiceHosts::kLookups{
    {
        {kMeasurementUploadHostKey, kMeasurementUploadHostVariable,
         "app-measurement.nebula.invalid"},
        {kLogbookServerURLKey, kLogbookServerURLVariable, "https://logbook.nebula.invalid/log"},
        {kConsoleURLKey, kConsoleURLVariable, "https://console.nebula.invalid"},
        {kMessagingServerKey, kMessagingServerVariable, "messaging.nebula.invalid"},
        {kCheckinServerURLKey, kCheckinServerURLVariable,
         "https://device-provisioning.nebula.invalid"},
        {kRegistrationServerURLKey, kRegistrationServerURLVariable, "https://iid.nebula.invalid"},
        {kTrustedCAFileKey, kTrustedCAFileVariable, ""},
    }};

std::string NEBServiceHosts::get(Service service) {
    {
        auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
        dispatch::Lock lock(hosts.mutex_);
        if (const auto& set = hosts.values_[service]) return *set;
    }
    const Lookup& lookup = kLookups[service];
    if (const char* value = std::getenv(lookup.variable); value && *value) return value;
    if (auto bundle = ns::Bundle::mainBundle()) {
        const ns::Value& configured =
            bundle->objectForInfoDictionaryKey(kInfoDictionaryKey)[lookup.infoKey];
        if (const std::string* text = configured.string(); text && !text->empty()) return *text;
    }
    return lookup.fallback;
}

void NEBServiceHosts::set(Service service, std::string value) {
    auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
    dispatch::Lock lock(hosts.mutex_);
    hosts.values_[service] = std::move(value);
}

bool NEBServiceHosts::measurementUploadHostNeverResolves() {
    return net::hostNeverResolves(hostWithoutPort(measurementUploadHost()));
}

std::string NEBServiceHosts::hostWithoutPort(const std::string& host) {
    if (!host.empty() && host.front() == '[') {
        auto end = host.find(']');
        return end == std::string::npos ? host : host.substr(1, end - 1);
    }
    auto colon = host.find(':');
    if (colon == std::string::npos || host.find(':', colon + 1) != std::string::npos) return host;
    return host.substr(0, colon);
}

bool NEBServiceHosts::applyTrustedCAFile() {
    const std::string path = trustedCAFile();
    if (path.empty()) return true;
    if (!ns::FileManager::defaultManager().isReadableFile(path)) {
        ns::Log::write(ns::LogLevel::Error, "sdk", "hosts",
                       "Cannot read the trusted certificate authorities in " + path);
        return false;
    }
    net::TLSSettings::setExtraCAFile(path);
    ns::Log::write(ns::LogLevel::Info, "sdk", "hosts",
                   "Trusting the certificate authorities in " + path);
    return true;
}
