#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/UserDefaults.h"

// The engine's small state that must survive launches outside the database: identifiers,
// upload and back-off times, session state, the install's day boundary. A user-defaults suite
// of its own; a burst of writes reaches the disk once, a second after the last of them, from a
// timer of the main run loop (never from the run loop of whichever worker thread wrote), and
// whatever is pending is written when the object goes and when the process exits.
class NEBAPersistedConfig : public std::enable_shared_from_this<NEBAPersistedConfig> {
public:
    static constexpr const char* kSuiteName = "com.nebula.nmp.measurement";
    static constexpr const char* kLastDeleteStaleKey = "/nebula/measurement/last_delete_stale";
    static constexpr const char* kAppInstanceIDKey = "/nebula/measurement/app_instance_id";
    static constexpr const char* kAppIDFromNMPKey = "/nebula/measurement/nmp_app_id";
    static constexpr const char* kHashedIDFAKey = "/nebula/measurement/hashed_idfa";
    static constexpr const char* kLastBackoffKey = "/nebula/measurement/last_backoff";
    static constexpr const char* kLastSuccessfulUploadKey =
        "/nebula/measurement/last_successful_upload";
    static constexpr const char* kLastFailedUploadKey = "/nebula/measurement/last_failed_upload";
    static constexpr const char* kAppVersionKey = "/nebula/measurement/app_version";
    static constexpr const char* kOSVersionKey = "/nebula/measurement/os_version";
    static constexpr const char* kMidnightOffsetKey = "/nebula/measurement/midnight_offset";
    static constexpr const char* kLastMonitorDataSampledKey =
        "/nebula/measurement/last_monitor_data_sampled_timestamp";
    static constexpr const char* kConfigServerLastModifiedKey =
        "/nebula/measurement/last_modified_since_key";
    static constexpr const char* kStartNewSessionKey = "/nebula/measurement/start_new_session";
    static constexpr const char* kLastSessionStartKey = "/nebula/measurement/last_session_start";
    static constexpr const char* kLastUserEngagementKey =
        "/nebula/measurement/last_user_engagement";
    static constexpr const char* kEngagementTimeBeforeSessionStartKey =
        "/nebula/measurement/et_before_session_start";
    static constexpr const char* kMeasurementEnabledStateKey =
        "/nebula/measurement/measurement_enabled_state";
    static constexpr const char* kBackgroundUploadKey = "/nebula/measurement/background_upload";

    // An upload in a background session, which a later launch may take up: its session and
    // the queue rows it carries, each with its bundle's end time (milliseconds), by which a
    // row that still holds that bundle is told from one a new store reused.
    struct BackgroundUpload {
        std::string sessionID;
        std::vector<std::pair<int64_t, int64_t>> bundles;
    };

    // Null for an empty name or one that is no file name.
    static std::shared_ptr<NEBAPersistedConfig> initWithSuiteName(std::string_view name);
    ~NEBAPersistedConfig();
    NEBAPersistedConfig(const NEBAPersistedConfig&) = delete;
    NEBAPersistedConfig& operator=(const NEBAPersistedConfig&) = delete;

    const std::string& name() const { return name_; }

    double lastDeleteStaleBundlesTimestamp() const { return doubleForKey(kLastDeleteStaleKey); }
    void setLastDeleteStaleBundlesTimestamp(double t) { setDouble(t, kLastDeleteStaleKey); }
    std::optional<std::string> appInstanceID() const { return stringForKey(kAppInstanceIDKey); }
    void setAppInstanceID(std::string_view v) { setString(v, kAppInstanceIDKey); }
    std::optional<std::string> appIDFromNMP() const { return stringForKey(kAppIDFromNMPKey); }
    void setAppIDFromNMP(std::string_view v) { setString(v, kAppIDFromNMPKey); }
    std::optional<std::string> hashedIDFA() const { return stringForKey(kHashedIDFAKey); }
    void setHashedIDFA(std::string_view v) { setString(v, kHashedIDFAKey); }
    double lastBackoffTimestamp() const { return doubleForKey(kLastBackoffKey); }
    void setLastBackoffTimestamp(double t) { setDouble(t, kLastBackoffKey); }
    double lastSuccessfulUploadTimestamp() const { return doubleForKey(kLastSuccessfulUploadKey); }
    void setLastSuccessfulUploadTimestamp(double t) { setDouble(t, kLastSuccessfulUploadKey); }
    double lastFailedUploadTimestamp() const { return doubleForKey(kLastFailedUploadKey); }
    void setLastFailedUploadTimestamp(double t) { setDouble(t, kLastFailedUploadKey); }
    std::optional<std::string> appVersion() const { return stringForKey(kAppVersionKey); }
    void setAppVersion(std::string_view v) { setString(v, kAppVersionKey); }
    std::optional<std::string> osVersion() const { return stringForKey(kOSVersionKey); }
    void setOsVersion(std::string_view v) { setString(v, kOSVersionKey); }
    double lastMonitorDataSampledTimestamp() const {
        return doubleForKey(kLastMonitorDataSampledKey);
    }
    void setLastMonitorDataSampledTimestamp(double t) { setDouble(t, kLastMonitorDataSampledKey); }
    std::optional<std::string> configServerLastModifiedString() const {
        return stringForKey(kConfigServerLastModifiedKey);
    }
    void setConfigServerLastModifiedString(std::string_view v) {
        setString(v, kConfigServerLastModifiedKey);
    }
    bool startNewSession() const;
    void setStartNewSession(bool start);
    double lastSessionStartTimestamp() const { return doubleForKey(kLastSessionStartKey); }
    void setLastSessionStartTimestamp(double t) { setDouble(t, kLastSessionStartKey); }
    double lastUserEngagementEventTimestamp() const { return doubleForKey(kLastUserEngagementKey); }
    void setLastUserEngagementEventTimestamp(double t) { setDouble(t, kLastUserEngagementKey); }
    double engagementTimeBeforeSessionStart() const {
        return doubleForKey(kEngagementTimeBeforeSessionStartKey);
    }
    void setEngagementTimeBeforeSessionStart(double t) {
        setDouble(t, kEngagementTimeBeforeSessionStartKey);
    }

    // Nothing when none is kept or what is kept is not one.
    std::optional<BackgroundUpload> backgroundUpload() const;
    // On disk before this returns: the upload is already on its way.
    void setBackgroundUpload(const BackgroundUpload& upload);
    void removeBackgroundUpload();

    // Where this install's day begins, in seconds after UTC midnight: drawn once, at random,
    // in whole milliseconds.
    double midnightOffset();
    // 1 enabled, 2 disabled, 0 no choice made (from the standard user defaults).
    int64_t measurementEnabledState() const;

    void clearValues();
    std::string preferencesFilePath() const;

    // Numbers only: text and other kinds read as 0; a value that is not finite reads as 0.
    double doubleForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    int64_t int64ForKey(std::string_view key) const;
    static int64_t int64ForKey(std::string_view key, const ns::UserDefaults& defaults);
    void setDouble(double value, std::string_view key);
    void setString(std::string_view value, std::string_view key);
    void setInt64(int64_t value, std::string_view key);

    void scheduleSynchronizeToDisk();
    void synchronizeToDisk();

    // How long a burst of writes waits before it is written.
    static constexpr double kSynchronizeDelaySeconds = 1.0;

private:
    NEBAPersistedConfig(std::string name, std::shared_ptr<ns::UserDefaults> defaults);

    std::string name_;
    std::shared_ptr<ns::UserDefaults> userDefaults_;
    std::atomic<bool> excludedFromBackup_{false};
};
