#pragma once

#include <mutex>
#include <string>

#include "platform/ns/SharedInstance.h"

// Where the SDK core's services live. Each is configuration: the host sets them at start (the
// defaults name hosts that never resolve, so an unconfigured program sends nothing). Any
// thread.
class NEBServiceHosts {
public:
    // The host whose reachability the HTTP client watches. Default
    // "app-measurement.nebula.invalid".
    static std::string measurementUploadHost();
    static void setMeasurementUploadHost(std::string host);
    // The diagnostic log endpoint (HTTPS, path "/log"). Default
    // "https://logbook.nebula.invalid/log".
    static std::string logbookServerURL();
    static void setLogbookServerURL(std::string url);
    // The web console that configuration messages point developers to. Default
    // "https://console.nebula.invalid".
    static std::string consoleURL();
    static void setConsoleURL(std::string url);

private:
    friend class ns::SharedInstance<NEBServiceHosts>;
    NEBServiceHosts() = default;

    static std::string get(std::string NEBServiceHosts::*field);
    static void set(std::string NEBServiceHosts::*field, std::string value);

    std::mutex mutex_;
    std::string measurementUploadHost_ = "app-measurement.nebula.invalid";
    std::string logbookServerURL_ = "https://logbook.nebula.invalid/log";
    std::string consoleURL_ = "https://console.nebula.invalid";
};
