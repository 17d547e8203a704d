#include "sdk/analytics/NEBAIdentity.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UUID.h"
#include "platform/sys/DeviceFacts.h"
#include "sdk/analytics/NEBAASIdentifierManager.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NSString+NEBD5Additions.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/instance_id/NEBInstanceID.h"

namespace {

// Constant-initialised, so usable from any static initialiser.
dispatch::Mutex sourceMutex;

NEBAIdentity::InstanceIDSource& instanceIDSource() REQUIRES(sourceMutex) {
    static auto* source = new NEBAIdentity::InstanceIDSource;
    return *source;
}

ns::Result<std::string> currentInstanceID() {
    NEBAIdentity::InstanceIDSource source;
    {
        dispatch::Lock lock(sourceMutex);
        source = instanceIDSource();
    }
    if (source) return source();
    return NEBInstanceID::instanceID()->appInstanceID();
}

}  // namespace

NEBAIdentity::ScopedInstanceIDSource::ScopedInstanceIDSource(InstanceIDSource source) {
    dispatch::Lock lock(sourceMutex);
    previous_ = std::exchange(instanceIDSource(), std::move(source));
}

NEBAIdentity::ScopedInstanceIDSource::~ScopedInstanceIDSource() {
    dispatch::Lock lock(sourceMutex);
    instanceIDSource() = std::move(previous_);
}

std::unique_ptr<NEBAIdentity> NEBAIdentity::initWithPersistedConfig(
    std::shared_ptr<NEBAPersistedConfig> persistedConfig, std::shared_ptr<NEBOptions> options) {
    if (!options || !persistedConfig) {
        NEBAMonitor::error(
            "Unable to create measurement identity, missing Nebula service "
            "information");
        return nullptr;
    }
    std::unique_ptr<NEBAIdentity> identity(new NEBAIdentity);
    identity->options_ = std::move(options);
    identity->persistedConfig_ = std::move(persistedConfig);
    identity->remoteConfig_ = NEBARemoteConfig::defaultInstance();
    auto bundle = ns::Bundle::mainBundle();
    // A bundle without an identifier has its app named by the options (a bundle must name
    // its app: the upload queue refuses one that does not).
    identity->appID_ =
        bundle->bundleIdentifier().value_or(identity->options_->bundleID().value_or(""));
    if (const auto* version =
            bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").string())
        identity->appVersion_ = *version;
    if (const auto* build = bundle->objectForInfoDictionaryKey("CFBundleVersion").string())
        identity->versionFields_ = numericFieldsFromAppVersionNumeric(*build);
    identity->hashedIDFA_ = identity->persistedConfig_->hashedIDFA();
    auto stored = identity->persistedConfig_->appInstanceID();
    if (stored && !stored->empty()) {
        identity->appInstanceID_ = *stored;
    } else {
        identity->appInstanceID_ = randomAppInstanceID();
        identity->persistedConfig_->setAppInstanceID(identity->appInstanceID_);
    }
    NEBAASIdentifierManager::sharedInstance();
    return identity;
}

void NEBAIdentity::setRemoteConfig(std::shared_ptr<NEBARemoteConfig> remoteConfig) {
    remoteConfig_ = remoteConfig ? std::move(remoteConfig) : NEBARemoteConfig::defaultInstance();
}

void NEBAIdentity::updateIdentifiers() {
    double now = dispatch::Clock::current().wallTime();
    if (lastAppInstanceIDUpdateTimestamp_ && *lastAppInstanceIDUpdateTimestamp_ <= now &&
        remoteConfig_->adIDCacheTime() > now - *lastAppInstanceIDUpdateTimestamp_)
        return;
    auto& manager = NEBAASIdentifierManager::sharedInstance();
    limitedAdTracking_ = manager.limitedAdTracking();
    auto identifier = manager.advertisingIdentifierString();
    if (identifier && !identifier->empty()) {
        resettableDeviceID_ = identifier;
        auto hashed = neba_MD5String(*identifier);
        if (hashed && hashed != hashedIDFA_) {
            // A different identifier (not the first one seen) means another advertising
            // identity: the instance ID must not link the two.
            if (hashedIDFA_ && !hashedIDFA_->empty()) {
                appInstanceID_ = randomAppInstanceID();
                persistedConfig_->setAppInstanceID(appInstanceID_);
            }
            hashedIDFA_ = hashed;
            persistedConfig_->setHashedIDFA(*hashed);
        }
    }
    lastAppInstanceIDUpdateTimestamp_ = now;
}

const std::string& NEBAIdentity::appInstanceID() {
    updateIdentifiers();
    return appInstanceID_;
}

std::optional<std::string> NEBAIdentity::resettableDeviceID() {
    updateIdentifiers();
    return resettableDeviceID_;
}

bool NEBAIdentity::limitedAdTracking() {
    updateIdentifiers();
    return limitedAdTracking_;
}

std::optional<std::string> NEBAIdentity::hashedIDFA() {
    updateIdentifiers();
    return hashedIDFA_;
}

bool NEBAIdentity::hasLimitedAdTracking() {
    updateIdentifiers();
    return NEBAASIdentifierManager::sharedInstance().hasLimitedAdTracking();
}

std::optional<std::string> NEBAIdentity::identifierForVendor() {
    if (auto resettable = resettableDeviceID(); resettable && !resettable->empty())
        return std::nullopt;
    if (!identifierForVendorString_) {
        // Device facts are safe to read from any thread: no hop to the main queue, which
        // could deadlock against a main thread that waits for the worker.
        if (auto vendor = sys::DeviceFacts::current().identifierForVendor())
            identifierForVendorString_ = vendor->UUIDString();
    }
    return identifierForVendorString_;
}

std::optional<std::string> NEBAIdentity::nebulaInstanceID() const {
    // For a measurement host that never resolves nothing measured leaves the device: the
    // identifier is not made for it (its key pair would load the cryptography for nothing).
    if (NEBServiceHosts::measurementUploadHostNeverResolves()) return std::nullopt;
    auto identifier = currentInstanceID();
    if (!identifier) {
        NEBAMonitor::warning("Failed to get InstanceID", {identifier.error()});
        return std::nullopt;
    }
    return *identifier;
}

int64_t NEBAIdentity::libraryVersionFromNMP() const {
    return formattedLibraryVersionFromNEBOptions(NEBOptions::libraryVersionID());
}

std::vector<int32_t> NEBAIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
    std::vector<int32_t> fields;
    for (const auto piece : ns::componentsSeparatedByCharacter(version, '.')) {
        if (piece.empty()) continue;
        std::string digits;
        std::copy_if(piece.begin(), piece.end(), std::back_inserter(digits),
                     [](char c) { return c >= '0' && c <= '9'; });
        if (digits.size() != piece.size())
            NEBAMonitor::log(NEBALogLevel::WarningSampledOnly,
                             "app version numeric has non-numeric characters");
        int32_t value = 0;
        // A run of digits beyond 32 bits reads as 0 rather than wrapping.
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        fields.push_back(value);
    }
    return fields;
}

int64_t NEBAIdentity::formattedLibraryVersionFromNEBOptions(const char* libraryVersionID) {
    std::string_view text(libraryVersionID ? libraryVersionID : "");
    if (text.size() < 4) return 0;
    text.remove_suffix(3);
    int64_t version = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), version);
    return ec == std::errc() && end == text.data() + text.size() ? version : 0;
}

std::string NEBAIdentity::randomAppInstanceID() {
    std::string text = ns::UUID().UUIDString();
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}
