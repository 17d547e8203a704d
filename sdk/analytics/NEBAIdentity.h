#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Result.h"
#include "sdk/analytics/NEBAPersistedConfig.h"
#include "sdk/analytics/NEBARemoteConfig.h"
#include "sdk/core/NEBOptions.h"

// The installation's identifiers and the application's version, as the engine reports them:
// the bundle identifier and version, the app instance ID that survives launches (renewed only
// when the advertising identifier changes to another value), the advertising identifier and
// limited-tracking choice, the vendor identifier, the instance-identity ID, the configured app
// ID and the SDK's version number. Used on the worker queue only.
class NEBAIdentity {
public:
    // Where the instance-identity ID comes from: the shared instance identity unless a scope
    // puts another source in place.
    using InstanceIDSource = std::function<ns::Result<std::string>()>;
    class ScopedInstanceIDSource {
    public:
        explicit ScopedInstanceIDSource(InstanceIDSource source);
        ~ScopedInstanceIDSource();
        ScopedInstanceIDSource(const ScopedInstanceIDSource&) = delete;
        ScopedInstanceIDSource& operator=(const ScopedInstanceIDSource&) = delete;

    private:
        InstanceIDSource previous_;
    };

    // Null (logged) without options.
    static std::unique_ptr<NEBAIdentity> initWithPersistedConfig(
        std::shared_ptr<NEBAPersistedConfig> persistedConfig, std::shared_ptr<NEBOptions> options);
    // The configuration whose ad-ID cache time paces the identifier refresh (the defaults until
    // the engine sets its own).
    void setRemoteConfig(std::shared_ptr<NEBARemoteConfig> remoteConfig);

    const std::string& appID() const { return appID_; }
    const std::string& appVersion() const { return appVersion_; }
    std::optional<int32_t> appVersionMajor() const { return versionField(0); }
    std::optional<int32_t> appVersionMinor() const { return versionField(1); }
    std::optional<int32_t> appVersionRelease() const { return versionField(2); }
    // Each of these refreshes the identifiers first.
    const std::string& appInstanceID();
    std::optional<std::string> resettableDeviceID();
    bool limitedAdTracking();
    std::optional<std::string> hashedIDFA();
    bool hasLimitedAdTracking();
    std::string appIDFromNMP() const { return options_->nebulaAppID().value_or(""); }
    int64_t libraryVersionFromNMP() const;
    // None while there is an advertising identifier: the two are never reported together.
    std::optional<std::string> identifierForVendor();
    // Asked of instance identity on every call; none (logged) when it fails.
    std::optional<std::string> nebulaInstanceID() const;

    // "1.2b3..4" gives 1, 23, 4: empty pieces skipped, non-digits dropped.
    static std::vector<int32_t> numericFieldsFromAppVersionNumeric(const std::string& version);
    static int64_t formattedLibraryVersionFromNEBOptions(const char* libraryVersionID);
    // 32 upper-case hexadecimal digits from a random version-4 UUID.
    static std::string randomAppInstanceID();
    void updateIdentifiers();

private:
    NEBAIdentity() = default;
    std::optional<int32_t> versionField(size_t index) const {
        return index < versionFields_.size() ? std::optional<int32_t>(versionFields_[index])
                                             : std::nullopt;
    }

    std::shared_ptr<NEBOptions> options_;
    std::shared_ptr<NEBAPersistedConfig> persistedConfig_;
    std::shared_ptr<NEBARemoteConfig> remoteConfig_;
    std::string appID_;
    std::string appVersion_;
    std::vector<int32_t> versionFields_;
    std::string appInstanceID_;
    std::optional<std::string> hashedIDFA_;
    std::optional<std::string> resettableDeviceID_;
    bool limitedAdTracking_ = false;
    std::optional<double> lastAppInstanceIDUpdateTimestamp_;
    std::optional<std::string> identifierForVendorString_;
};
