#include "sdk/core/NEBServiceHosts.h"

std::string NEBServiceHosts::get(std::string NEBServiceHosts::*field) {
    auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
    std::lock_guard lock(hosts.mutex_);
    return hosts.*field;
}

void NEBServiceHosts::set(std::string NEBServiceHosts::*field, std::string value) {
    auto& hosts = ns::SharedInstance<NEBServiceHosts>::get();
    std::lock_guard lock(hosts.mutex_);
    hosts.*field = std::move(value);
}

std::string NEBServiceHosts::measurementUploadHost() {
    return get(&NEBServiceHosts::measurementUploadHost_);
}

void NEBServiceHosts::setMeasurementUploadHost(std::string host) {
    set(&NEBServiceHosts::measurementUploadHost_, std::move(host));
}

std::string NEBServiceHosts::logbookServerURL() {
    return get(&NEBServiceHosts::logbookServerURL_);
}

void NEBServiceHosts::setLogbookServerURL(std::string url) {
    set(&NEBServiceHosts::logbookServerURL_, std::move(url));
}

std::string NEBServiceHosts::consoleURL() {
    return get(&NEBServiceHosts::consoleURL_);
}

void NEBServiceHosts::setConsoleURL(std::string url) {
    set(&NEBServiceHosts::consoleURL_, std::move(url));
}
