#include "sdk/core/NEBOptions.h"

#include "platform/ns/Exception.h"
#include "platform/ns/PropertyListSerialization.h"
#include "sdk/core/NEBBundleUtil.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/NEBDefaultOptions.h"

namespace {

NEBDefaultOptions& defaults() {
    return NEBDefaultOptions::shared();
}

std::optional<ns::Dictionary> readDictionary(const std::string& path) {
    auto plist = ns::PropertyListSerialization::readFile(path);
    if (!plist.ok() || !plist->isDictionary()) return std::nullopt;
    return *plist->dictionary();
}

}  // namespace

std::shared_ptr<NEBOptions> NEBOptions::defaultOptions() {
    auto& state = defaults();
    {
        dispatch::Lock lock(state.mutex);
        if (state.options) return state.options;
    }
    auto dictionary = defaultOptionsDictionary();
    if (!dictionary) return nullptr;
    dispatch::Lock lock(state.mutex);
    if (!state.options) state.options = initInternalWithOptionsDictionary(std::move(*dictionary));
    return state.options;
}

std::optional<ns::Dictionary> NEBOptions::defaultOptionsDictionary() {
    auto& state = defaults();
    {
        dispatch::Lock lock(state.mutex);
        if (state.dictionary) return state.dictionary;
    }
    auto path = plistFilePathWithName(kNEBServiceInfoFileName);
    if (!path) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreOptionsFileMissing,
                        "Could not locate configuration file: '%@.%@'.", kNEBServiceInfoFileName,
                        kNEBServiceInfoFileType);
        return std::nullopt;
    }
    auto dictionary = readDictionary(*path);
    if (!dictionary) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreOptionsNotDictionary,
                        "The configuration file is not a dictionary: '%@.%@'.",
                        kNEBServiceInfoFileName, kNEBServiceInfoFileType);
        return std::nullopt;
    }
    dispatch::Lock lock(state.mutex);
    if (!state.dictionary) state.dictionary = std::move(dictionary);
    return state.dictionary;
}

std::optional<std::string> NEBOptions::plistFilePathWithName(std::string_view fileName) {
    return NEBBundleUtil::optionsDictionaryPathWithResourceName(fileName, kNEBServiceInfoFileType,
                                                                NEBBundleUtil::relevantBundles());
}

std::shared_ptr<NEBOptions> NEBOptions::initInternalWithOptionsDictionary(ns::Dictionary options) {
    auto result =
        std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(std::move(options)));
    dispatch::Lock lock(result->mutex_);
    result->usingOptionsFromDefaultPlist_ = true;
    return result;
}

std::shared_ptr<NEBOptions> NEBOptions::initWithNebulaAppID(
    const std::optional<std::string>& nebulaAppID, const std::optional<std::string>& bundleID,
    const std::optional<std::string>& MSGSenderID, const std::optional<std::string>& APIKey,
    const std::optional<std::string>& clientID, const std::optional<std::string>& trackingID,
    const std::optional<std::string>& mobileClientID, const std::optional<std::string>& databaseURL,
    const std::optional<std::string>& storageBucket,
    const std::optional<std::string>& deepLinkURLScheme) {
    if (!nebulaAppID) {
        throw ns::Exception(kNEBErrorDomain, "Please specify a valid Nebula App ID.");
    }
    ns::Dictionary options;
    auto put = [&options](const char* key, const std::optional<std::string>& value) {
        if (value) options[key] = *value;
    };
    put(kNEBNebulaAppID, nebulaAppID);
    put(kNEBBundleID, bundleID);
    put(kNEBMSGSenderID, MSGSenderID);
    put(kNEBAPIKey, APIKey);
    put(kNEBClientID, clientID);
    put(kNEBTrackingID, trackingID);
    put(kNEBMobileClientID, mobileClientID);
    put(kNEBDatabaseURL, databaseURL);
    put(kNEBStorageBucket, storageBucket);
    auto result =
        std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(std::move(options)));
    dispatch::Lock lock(result->mutex_);
    result->deepLinkURLScheme_ = deepLinkURLScheme;
    return result;
}

std::shared_ptr<NEBOptions> NEBOptions::initWithContentsOfFile(
    const std::optional<std::string>& plistPath) {
    if (!plistPath) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreOptionsPathNil,
                        "The plist file path is nil.");
        return nullptr;
    }
    auto dictionary = readDictionary(*plistPath);
    if (!dictionary) {
        NEBCoreLogError(
            kNEBLoggerCore, kNEBLoggerCoreOptionsFileUnreadable,
            "The configuration file at %@ does not exist or is not a well-formed plist file.",
            *plistPath);
        return nullptr;
    }
    return std::make_shared<NEBOptions>(
        std::make_shared<const ns::Dictionary>(std::move(*dictionary)));
}

NEBOptions::NEBOptions(std::shared_ptr<const ns::Dictionary> options)
    : options_(options ? std::move(options) : std::make_shared<const ns::Dictionary>()) {}

std::shared_ptr<NEBOptions> NEBOptions::copy() const {
    dispatch::Lock lock(mutex_);
    auto result = std::make_shared<NEBOptions>(options_);
    dispatch::Lock resultLock(result->mutex_);
    result->deepLinkURLScheme_ = deepLinkURLScheme_;
    return result;
}

std::optional<std::string> NEBOptions::stringForKey(std::string_view key) const {
    auto options = optionsDictionary();
    auto it = options->find(key);
    if (it == options->end() || !it->second.isString()) return std::nullopt;
    return *it->second.string();
}

bool NEBOptions::presentBool(std::string_view key, const ns::Dictionary& source,
                             bool absent) const {
    auto it = source.find(key);
    return it == source.end() ? absent : it->second.boolValue();
}

bool NEBOptions::isAnalyticsEnabled() const {
    return presentBool(kNEBIsAnalyticsEnabled, *optionsDictionary(), false);
}

bool NEBOptions::isSignInEnabled() const {
    return presentBool(kNEBIsSignInEnabled, *optionsDictionary(), false);
}

const ns::Dictionary& NEBOptions::analyticsOptionsDictionary() const {
    std::call_once(analyticsOnce_, [this] {
        const auto& info = NEBBundleUtil::relevantBundles().front()->infoDictionary();
        auto options = optionsDictionary();
        for (const char* key : {kNEBIsMeasurementEnabled, kNEBAnalyticsCollectionEnabled,
                                kNEBAnalyticsCollectionDeactivated}) {
            if (auto it = info.find(key); it != info.end()) {
                analyticsOptions_[key] = it->second;
            } else if (auto own = options->find(key); own != options->end()) {
                analyticsOptions_[key] = own->second;
            }
        }
    });
    return analyticsOptions_;
}

bool NEBOptions::isAnalyticsCollectionDeactivated() const {
    return presentBool(kNEBAnalyticsCollectionDeactivated, analyticsOptionsDictionary(), false);
}

bool NEBOptions::isMeasurementEnabled() const {
    if (isAnalyticsCollectionDeactivated()) return false;
    return presentBool(kNEBIsMeasurementEnabled, analyticsOptionsDictionary(), true);
}

bool NEBOptions::isAnalyticsCollectionEnabled() const {
    if (isAnalyticsCollectionDeactivated()) return false;
    const auto& flags = analyticsOptionsDictionary();
    auto it = flags.find(kNEBAnalyticsCollectionEnabled);
    return it == flags.end() ? isMeasurementEnabled() : it->second.boolValue();
}

std::shared_ptr<const ns::Dictionary> NEBOptions::optionsDictionary() const {
    dispatch::Lock lock(mutex_);
    return options_;
}

void NEBOptions::setOptionsDictionary(std::shared_ptr<const ns::Dictionary> options) {
    dispatch::Lock lock(mutex_);
    options_ = options ? std::move(options) : std::make_shared<const ns::Dictionary>();
}

std::optional<std::string> NEBOptions::deepLinkURLScheme() const {
    dispatch::Lock lock(mutex_);
    return deepLinkURLScheme_;
}

void NEBOptions::setDeepLinkURLScheme(std::optional<std::string> scheme) {
    dispatch::Lock lock(mutex_);
    deepLinkURLScheme_ = std::move(scheme);
}

bool NEBOptions::usingOptionsFromDefaultPlist() const {
    dispatch::Lock lock(mutex_);
    return usingOptionsFromDefaultPlist_;
}

void NEBOptions::setUsingOptionsFromDefaultPlist(bool value) {
    dispatch::Lock lock(mutex_);
    usingOptionsFromDefaultPlist_ = value;
}
