#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"

// Where the SDK core's services live. Each comes, first found, from: a value the program set
// (setters), the environment of the run (kMeasurementUploadHostVariable ...), so that a user
// can point one run at a local server, the main bundle's Info.plist dictionary
// kInfoDictionaryKey (keys kMeasurementUploadHostKey ...), and last a default that names a
// host that never resolves, so that an unconfigured program sends nothing. Any thread.
class NEBServiceHosts {
public:
    static constexpr const char* kInfoDictionaryKey = "NebulaServiceHosts";
    static constexpr const char* kMeasurementUploadHostKey = "MeasurementUploadHost";
    static constexpr const char* kLogbookServerURLKey = "LogbookServerURL";
    static constexpr const char* kConsoleURLKey = "ConsoleURL";
    static constexpr const char* kMeasurementUploadHostVariable = "NEBULA_MEASUREMENT_UPLOAD_HOST";
    static constexpr const char* kLogbookServerURLVariable = "NEBULA_LOGBOOK_SERVER_URL";
    static constexpr const char* kConsoleURLVariable = "NEBULA_CONSOLE_URL";

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

    struct Service {
        std::optional<std::string> NEBServiceHosts::*field;
        const char* infoKey;
        const char* variable;
        const char* fallback;
    };
    static const Service kMeasurementUpload;
    static const Service kLogbook;
    static const Service kConsole;

    static std::string get(const Service& service);
    static void set(const Service& service, std::string value);

    std::mutex mutex_;
    std::optional<std::string> measurementUploadHost_;
    std::optional<std::string> logbookServerURL_;
    std::optional<std::string> consoleURL_;
};
