#include "sdk/analytics/NEBAEnvironmentInfo.h"

#include <unicode/timezone.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Locale.h"
#include "platform/ns/StringComponents.h"
#include "platform/sys/DeviceFacts.h"
#include "sdk/analytics/NEBAMonitor.h"

std::optional<std::string> NEBAAppEnvironmentUtil::deviceModel() {
    std::string machine = sys::DeviceFacts::current().machine();
    if (machine.empty()) return std::nullopt;
    return machine;
}

bool NEBAAppEnvironmentUtil::isSimulator() {
    return sys::DeviceFacts::current().isSimulator();
}

NEBAEnvironmentInfo& NEBAEnvironmentInfo::sharedInstance() {
    return ns::SharedInstance<NEBAEnvironmentInfo>::get();
}

std::string NEBAEnvironmentInfo::deviceModel() {
    std::call_once(modelOnce_, [this] {
        deviceModel_ = NEBAAppEnvironmentUtil::deviceModel().value_or("");
        if (deviceModel_.empty())
            NEBAMonitor::error("Failed to get device model", {ns::Value(std::strerror(errno))});
    });
    return deviceModel_;
}

std::string NEBAEnvironmentInfo::deviceOSVersion() const {
    return sys::DeviceFacts::current().systemVersion();
}

std::optional<std::string> NEBAEnvironmentInfo::userDefaultLanguage() const {
    auto languages = ns::Locale::preferredLanguages();
    if (languages.empty() || languages.front().empty()) {
        NEBAMonitor::error("Failed to get preferred language");
        return std::nullopt;
    }
    return ns::asciiLowercased(languages.front());
}

int32_t NEBAEnvironmentInfo::timeZoneOffsetMinutes() const {
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    int32_t raw = 0;
    int32_t daylight = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->getOffset(dispatch::Clock::current().wallTime() * 1000.0, false, raw, daylight, status);
    if (U_FAILURE(status)) return 0;
    // Milliseconds to seconds, then to minutes, each truncated toward zero.
    return (raw + daylight) / 1000 / 60;
}
