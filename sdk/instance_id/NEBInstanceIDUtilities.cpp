#include "sdk/instance_id/NEBInstanceIDUtilities.h"

#include <strings.h>

#include <memory>
#include <mutex>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Locale.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sec/Digest.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/instance_id/NEBInstanceIDMessagingFacts.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace {

std::shared_ptr<NEBInstanceIDMessagingFacts> messagingFacts(std::string_view operation) {
    const auto* cls = rt::ClassRegistry::shared().classNamed(kNEBMessagingClassName);
    if (!cls || !cls->instancesRespondTo(operation)) return nullptr;
    return std::dynamic_pointer_cast<NEBInstanceIDMessagingFacts>(cls->create());
}

// "<base>/<path>", one slash between them whatever the base ends with.
std::string serviceURL(std::string base, std::string_view path) {
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + std::string(path);
}

}  // namespace

std::string NEBInstanceIDCheckinURL() {
    return serviceURL(NEBServiceHosts::checkinServerURL(), "/checkin");
}
std::string NEBInstanceIDRegistrationURL() {
    return serviceURL(NEBServiceHosts::registrationServerURL(), "/iid/register");
}

int64_t NEBInstanceIDCurrentTimestampInSeconds() {
    return static_cast<int64_t>(dispatch::Clock::current().wallTime());
}
int64_t NEBInstanceIDCurrentTimestampInMilliseconds() {
    return NEBInstanceIDCurrentTimestampInSeconds() * 1000;
}

std::string NEBInstanceIDCurrentAppVersion() {
    const auto& value =
        ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (const auto* text = value.string()) return *text;
    return "";
}

std::string NEBInstanceIDAppIdentifier() {
    return ns::Bundle::mainBundle()->bundleIdentifier().value_or("");
}

bool NEBInstanceIDIsMessagingScope(std::string_view scope) {
    return scope.size() == 3 && strncasecmp(scope.data(), kNEBInstanceIDScopeNCM, 3) == 0;
}

bool NEBInstanceIDIsDefaultScope(std::string_view scope) {
    return scope == kNEBInstanceIDDefaultScope;
}

std::string NEBInstanceIDAPNSTokenString(const ns::Data& deviceToken, bool isSandbox) {
    return std::string(isSandbox ? "s_" : "p_") + sec::hexString(deviceToken);
}

std::optional<std::string> NEBInstanceIDMessagingSDKVersion() {
    auto facts = messagingFacts(kNEBMessagingSDKVersionOperation);
    if (!facts) return std::nullopt;
    return facts->NEBMessagingSDKVersion();
}

std::string NEBInstanceIDMessagingSDKCurrentLocale() {
    if (auto facts = messagingFacts(kNEBMessagingSDKCurrentLocaleOperation)) {
        if (auto locale = facts->NEBMessagingSDKCurrentLocale()) return *locale;
    }
    auto languages = ns::Locale::preferredLanguages();
    return languages.empty() ? std::string() : languages.front();
}

std::string NEBInstanceIDCurrentLibraryVersion() {
    return "1.0.8";
}

std::string NEBInstanceIDLocalTimeZoneName() {
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    zone->getID(id);
    std::string name;
    id.toUTF8String(name);
    return name.empty() ? "UTC" : name;
}
