#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

// Keys of the options dictionary.
inline constexpr const char* kNEBAPIKey = "API_KEY";
inline constexpr const char* kNEBClientID = "CLIENT_ID";
inline constexpr const char* kNEBTrackingID = "TRACKING_ID";
inline constexpr const char* kNEBMSGSenderID = "MSG_SENDER_ID";
inline constexpr const char* kNEBMobileClientID = "MOBILE_CLIENT_ID";
inline constexpr const char* kNEBNebulaAppID = "NEBULA_APP_ID";
inline constexpr const char* kNEBDatabaseURL = "DATABASE_URL";
inline constexpr const char* kNEBStorageBucket = "STORAGE_BUCKET";
inline constexpr const char* kNEBBundleID = "BUNDLE_ID";
inline constexpr const char* kNEBIsAnalyticsEnabled = "IS_ANALYTICS_ENABLED";
inline constexpr const char* kNEBIsSignInEnabled = "IS_SIGNIN_ENABLED";
inline constexpr const char* kNEBIsMeasurementEnabled = "IS_MEASUREMENT_ENABLED";
inline constexpr const char* kNEBAnalyticsCollectionEnabled = "NEBULA_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kNEBAnalyticsCollectionDeactivated =
    "NEBULA_ANALYTICS_COLLECTION_DEACTIVATED";

// The options plist that ships in the application bundle.
inline constexpr const char* kNEBServiceInfoFileName = "NebulaService-Info";
inline constexpr const char* kNEBServiceInfoFileType = "plist";
inline constexpr const char* kNEBErrorDomain = "com.nebula.core";
inline constexpr const char* kNEBLibraryVersionID = "3403000";

// The configuration of one configured app: application ID, sender ID, keys, service URLs and
// the analytics switches. The default options come from "NebulaService-Info.plist" in the
// application bundle; custom options are built from values or from another plist.
//
// Readers take the typed accessors: a key whose value has another type than its accessor's
// reads as absent, so a hand-edited plist cannot hand a number to code that expects text.
class NEBOptions : public ns::Object {
public:
    // The shared default options, or null when the default plist cannot be read (logged). A
    // call that finds nothing keeps nothing, so a later call tries again.
    static std::shared_ptr<NEBOptions> defaultOptions();
    // The default plist's dictionary, read once and kept.
    static std::optional<ns::Dictionary> defaultOptionsDictionary();
    // The first relevant bundle's resource of that name with the type "plist".
    static std::optional<std::string> plistFilePathWithName(std::string_view fileName);

    // Options that come from the default plist.
    static std::shared_ptr<NEBOptions> initInternalWithOptionsDictionary(ns::Dictionary options);
    // Custom options from values; an absent value leaves its key out. Without an application
    // ID this throws ns::Exception "com.nebula.core".
    static std::shared_ptr<NEBOptions> initWithNebulaAppID(
        const std::optional<std::string>& nebulaAppID, const std::optional<std::string>& bundleID,
        const std::optional<std::string>& MSGSenderID, const std::optional<std::string>& APIKey,
        const std::optional<std::string>& clientID, const std::optional<std::string>& trackingID,
        const std::optional<std::string>& mobileClientID,
        const std::optional<std::string>& databaseURL,
        const std::optional<std::string>& storageBucket,
        const std::optional<std::string>& deepLinkURLScheme);
    // Custom options from a plist file; null (logged) without a path or a dictionary there.
    static std::shared_ptr<NEBOptions> initWithContentsOfFile(
        const std::optional<std::string>& plistPath);

    explicit NEBOptions(std::shared_ptr<const ns::Dictionary> options);

    // A new object sharing this one's dictionary and deep-link scheme; never "from the
    // default plist".
    std::shared_ptr<NEBOptions> copy() const;

    std::optional<std::string> APIKey() const { return stringForKey(kNEBAPIKey); }
    std::optional<std::string> clientID() const { return stringForKey(kNEBClientID); }
    std::optional<std::string> trackingID() const { return stringForKey(kNEBTrackingID); }
    std::optional<std::string> MSGSenderID() const { return stringForKey(kNEBMSGSenderID); }
    std::optional<std::string> mobileClientID() const { return stringForKey(kNEBMobileClientID); }
    std::optional<std::string> nebulaAppID() const { return stringForKey(kNEBNebulaAppID); }
    std::optional<std::string> databaseURL() const { return stringForKey(kNEBDatabaseURL); }
    std::optional<std::string> storageBucket() const { return stringForKey(kNEBStorageBucket); }
    std::optional<std::string> bundleID() const { return stringForKey(kNEBBundleID); }
    // NO when absent; read from the options alone.
    bool isAnalyticsEnabled() const;
    bool isSignInEnabled() const;
    // The three analytics switches, the application's Info.plist winning over the options key
    // by key; merged once per object and kept.
    const ns::Dictionary& analyticsOptionsDictionary() const;
    bool isMeasurementEnabled() const;
    bool isAnalyticsCollectionEnabled() const;
    bool isAnalyticsCollectionDeactivated() const;
    static const char* libraryVersionID() { return kNEBLibraryVersionID; }

    std::shared_ptr<const ns::Dictionary> optionsDictionary() const;
    void setOptionsDictionary(std::shared_ptr<const ns::Dictionary> options);
    std::optional<std::string> deepLinkURLScheme() const;
    void setDeepLinkURLScheme(std::optional<std::string> scheme);
    bool usingOptionsFromDefaultPlist() const;
    void setUsingOptionsFromDefaultPlist(bool value);

private:
    std::optional<std::string> stringForKey(std::string_view key) const;
    bool presentBool(std::string_view key, const ns::Dictionary& source, bool absent) const;

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<const ns::Dictionary> options_ GUARDED_BY(mutex_);
    std::optional<std::string> deepLinkURLScheme_ GUARDED_BY(mutex_);
    bool usingOptionsFromDefaultPlist_ GUARDED_BY(mutex_) = false;
    mutable std::once_flag analyticsOnce_;
    mutable ns::Dictionary analyticsOptions_;
};
