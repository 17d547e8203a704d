#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/SharedInstance.h"

// Where the SDK's services live, for every part of the SDK. Each comes, first found, from: a
// value the program set (setters), the environment of the run (kMeasurementUploadHostVariable
// ...), so that a user can point one run at a local server, the main bundle's Info.plist
// dictionary kInfoDictionaryKey (keys kMeasurementUploadHostKey ...), and last a default that
// names a host that never resolves, so that an unconfigured program sends nothing. Any thread.
class NEBServiceHosts {
public:
    static constexpr const char* kInfoDictionaryKey = "NebulaServiceHosts";
    static constexpr const char* kMeasurementUploadHostKey = "MeasurementUploadHost";
    static constexpr const char* kLogbookServerURLKey = "LogbookServerURL";
    static constexpr const char* kConsoleURLKey = "ConsoleURL";
    static constexpr const char* kMessagingServerKey = "MessagingServer";
    static constexpr const char* kCheckinServerURLKey = "CheckinServerURL";
    static constexpr const char* kRegistrationServerURLKey = "RegistrationServerURL";
    static constexpr const char* kTrustedCAFileKey = "TrustedCAFile";
    static constexpr const char* kMeasurementUploadHostVariable = "NEBULA_MEASUREMENT_UPLOAD_HOST";
    static constexpr const char* kLogbookServerURLVariable = "NEBULA_LOGBOOK_SERVER_URL";
    static constexpr const char* kConsoleURLVariable = "NEBULA_CONSOLE_URL";
    static constexpr const char* kMessagingServerVariable = "NEBULA_MESSAGING_SERVER";
    static constexpr const char* kCheckinServerURLVariable = "NEBULA_CHECKIN_SERVER_URL";
    static constexpr const char* kRegistrationServerURLVariable = "NEBULA_REGISTRATION_SERVER_URL";
    static constexpr const char* kTrustedCAFileVariable = "NEBULA_TRUSTED_CA_FILE";

    // The host whose reachability the HTTP client watches. Default
    // "app-measurement.nebula.invalid".
    static std::string measurementUploadHost() { return get(kMeasurementUpload); }
    static void setMeasurementUploadHost(std::string host) {
        set(kMeasurementUpload, std::move(host));
    }
    // Whether the measurement upload host names a host that never resolves (the default):
    // nothing measured can leave the device then.
    static bool measurementUploadHostNeverResolves();
    // The host of "host:port" or "[v6 address]:port"; a name without a port (a bare IPv6
    // address among them) as it is.
    static std::string hostWithoutPort(const std::string& host);
    // The diagnostic log endpoint (HTTPS, path "/log"). Default
    // "https://logbook.nebula.invalid/log".
    static std::string logbookServerURL() { return get(kLogbook); }
    static void setLogbookServerURL(std::string url) { set(kLogbook, std::move(url)); }
    // The web console that configuration messages point developers to. Default
    // "https://console.nebula.invalid".
    static std::string consoleURL() { return get(kConsole); }
    // The messaging socket's server: "host", "host:port" or "[v6 address]:port" (the port is
    // the messaging library's own when left out). Default "messaging.nebula.invalid".
    static std::string messagingServer() { return get(kMessaging); }
    static void setMessagingServer(std::string hostAndPort) {
        set(kMessaging, std::move(hostAndPort));
    }
    // The device check-in service's base URL; requests go to "<base>/checkin". Default
    // "https://device-provisioning.nebula.invalid".
    static std::string checkinServerURL() { return get(kCheckin); }
    static void setCheckinServerURL(std::string url) { set(kCheckin, std::move(url)); }
    // The registration service's base URL (tokens and topics); requests go to
    // "<base>/iid/register". Default "https://iid.nebula.invalid".
    static std::string registrationServerURL() { return get(kRegistration); }
    static void setRegistrationServerURL(std::string url) { set(kRegistration, std::move(url)); }
    // A PEM file of certificate authorities that the services' TLS connections trust beside
    // the system's (a local server with a certificate of its own); "" when none.
    static std::string trustedCAFile() { return get(kTrustedCA); }
    static void setTrustedCAFile(std::string path) { set(kTrustedCA, std::move(path)); }

    // Hands trustedCAFile() to the process's TLS settings, when one is configured (a program
    // setting, the environment or the bundle). False when the file cannot be read; the error
    // is logged, and connections then trust the system's authorities only.
    static bool applyTrustedCAFile();

private:
    friend class ns::SharedInstance<NEBServiceHosts>;
    NEBServiceHosts() = default;

    enum Service : size_t {
        kMeasurementUpload,
        kLogbook,
        kConsole,
        kMessaging,
        kCheckin,
        kRegistration,
        kTrustedCA,
        kServiceCount
    };
    struct Lookup {
        const char* infoKey;
        const char* variable;
        const char* fallback;
    };
    static const std::array<Lookup, kServiceCount> kLookups;

    static std::string get(Service service);
    static void set(Service service, std::string value);

    dispatch::Mutex mutex_;
    std::array<std::optional<std::string>, kServiceCount> values_ GUARDED_BY(mutex_);
};
