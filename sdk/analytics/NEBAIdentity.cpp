#include "sdk/analytics/NEBAIdentity.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/ns/Bundle.h"
#include "platform/ns/UUID.h"
#include "sdk/analytics/NEBAMonitor.h"

std::unique_ptr<NEBAIdentity> NEBAIdentity::initWithPersistedConfig(
    std::shared_ptr<NEBAPersistedConfig> persistedConfig, std::shared_ptr<NEBOptions> options) {
    if (!options || !persistedConfig) {
        NEBAMonitor::log(1,
                         "Unable to create measurement identity, missing Nebula service "
                         "information");
        return nullptr;
    }
    std::unique_ptr<NEBAIdentity> identity(new NEBAIdentity);
    identity->options_ = std::move(options);
    identity->persistedConfig_ = std::move(persistedConfig);
    auto bundle = ns::Bundle::mainBundle();
    identity->appID_ = bundle->bundleIdentifier().value_or("");
    if (const auto* version =
            bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").string())
        identity->appVersion_ = *version;
    if (const auto* build = bundle->objectForInfoDictionaryKey("CFBundleVersion").string())
        identity->versionFields_ = numericFieldsFromAppVersionNumeric(*build);
    auto stored = identity->persistedConfig_->appInstanceID();
    if (stored && !stored->empty()) {
        identity->appInstanceID_ = *stored;
    } else {
        identity->appInstanceID_ = randomAppInstanceID();
        identity->persistedConfig_->setAppInstanceID(identity->appInstanceID_);
    }
    return identity;
}

int64_t NEBAIdentity::libraryVersionFromNMP() const {
    return formattedLibraryVersionFromNEBOptions(NEBOptions::libraryVersionID());
}

std::vector<int32_t> NEBAIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
    std::vector<int32_t> fields;
    size_t start = 0;
    while (start <= version.size()) {
        size_t end = std::min(version.find('.', start), version.size());
        std::string piece = version.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        std::string digits;
        std::copy_if(piece.begin(), piece.end(), std::back_inserter(digits),
                     [](char c) { return c >= '0' && c <= '9'; });
        if (digits.size() != piece.size())
            NEBAMonitor::log(5, "app version numeric has non-numeric characters");
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
