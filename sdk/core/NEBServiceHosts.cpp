#include "sdk/core/NEBServiceHosts.h"

#include <mutex>

namespace {

struct Hosts {
    std::mutex mutex;
    std::string measurementUploadHost = "app-measurement.nebula.invalid";
    std::string logbookServerURL = "https://logbook.nebula.invalid/log";
    std::string consoleURL = "https://console.nebula.invalid";
};

Hosts& hosts() {
    static Hosts h;
    return h;
}

std::string get(std::string Hosts::*field) {
    std::lock_guard lock(hosts().mutex);
    return hosts().*field;
}

void set(std::string Hosts::*field, std::string value) {
    std::lock_guard lock(hosts().mutex);
    hosts().*field = std::move(value);
}

}  // namespace

std::string NEBServiceHosts::measurementUploadHost() {
    return get(&Hosts::measurementUploadHost);
}

void NEBServiceHosts::setMeasurementUploadHost(std::string host) {
    set(&Hosts::measurementUploadHost, std::move(host));
}

std::string NEBServiceHosts::logbookServerURL() {
    return get(&Hosts::logbookServerURL);
}

void NEBServiceHosts::setLogbookServerURL(std::string url) {
    set(&Hosts::logbookServerURL, std::move(url));
}

std::string NEBServiceHosts::consoleURL() {
    return get(&Hosts::consoleURL);
}

void NEBServiceHosts::setConsoleURL(std::string url) {
    set(&Hosts::consoleURL, std::move(url));
}

void NEBServiceHosts::reset() {
    Hosts defaults;
    std::lock_guard lock(hosts().mutex);
    hosts().measurementUploadHost = defaults.measurementUploadHost;
    hosts().logbookServerURL = defaults.logbookServerURL;
    hosts().consoleURL = defaults.consoleURL;
}
