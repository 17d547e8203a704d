#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/analytics/NEBAPersistedConfig.h"
#include "sdk/core/NEBOptions.h"

// The installation's identifiers and the application's version, as the engine reports them:
// the bundle identifier and version, the app instance ID that survives launches, the
// configured app ID and the SDK's version number.
class NEBAIdentity {
public:
    // Null (logged) without options.
    static std::unique_ptr<NEBAIdentity> initWithPersistedConfig(
        std::shared_ptr<NEBAPersistedConfig> persistedConfig, std::shared_ptr<NEBOptions> options);

    const std::string& appID() const { return appID_; }
    const std::string& appVersion() const { return appVersion_; }
    std::optional<int32_t> appVersionMajor() const { return versionField(0); }
    std::optional<int32_t> appVersionMinor() const { return versionField(1); }
    std::optional<int32_t> appVersionRelease() const { return versionField(2); }
    const std::string& appInstanceID() const { return appInstanceID_; }
    std::string appIDFromNMP() const { return options_->nebulaAppID().value_or(""); }
    int64_t libraryVersionFromNMP() const;

    // "1.2b3..4" gives 1, 23, 4: empty pieces skipped, non-digits dropped.
    static std::vector<int32_t> numericFieldsFromAppVersionNumeric(const std::string& version);
    static int64_t formattedLibraryVersionFromNEBOptions(const char* libraryVersionID);
    // 32 upper-case hexadecimal digits from a random version-4 UUID.
    static std::string randomAppInstanceID();

private:
    NEBAIdentity() = default;
    std::optional<int32_t> versionField(size_t index) const {
        return index < versionFields_.size() ? std::optional<int32_t>(versionFields_[index])
                                             : std::nullopt;
    }

    std::shared_ptr<NEBOptions> options_;
    std::shared_ptr<NEBAPersistedConfig> persistedConfig_;
    std::string appID_;
    std::string appVersion_;
    std::vector<int32_t> versionFields_;
    std::string appInstanceID_;
};
