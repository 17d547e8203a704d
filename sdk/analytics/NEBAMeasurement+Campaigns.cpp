// The events the engine makes by itself: campaigns from deep links, first open, app and
// system updates; and the launch's deep link that the first-open report consumes.
#include <charconv>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NEBNSDictionaryQuery.h"
#include "toolbox/Foundation/NSDKClassLookup.h"

namespace {

// Query keys of a campaign link and the parameters of "_cmp" they become.
constexpr std::pair<const char*, const char*> kCampaignParameters[] = {
    {"aclid", "aclid"},         {"anid", "anid"},         {"utm_campaign", "campaign"},
    {"utm_content", "content"}, {"cp1", "cp1"},           {"gclid", "gclid"},
    {"utm_medium", "medium"},   {"utm_source", "source"}, {"utm_term", "term"}};

// The leading integer of the system version ("17.0" gives 17); 0 when there is none.
int systemMajorVersion() {
    std::string version = sys::DeviceFacts::current().systemVersion();
    int major = 0;
    std::from_chars(version.data(), version.data() + version.size(), major);
    return major;
}

std::string nonEmptyString(const ns::Dictionary& dictionary, const char* key) {
    auto it = dictionary.find(key);
    return it != dictionary.end() && it->second.string() ? *it->second.string() : std::string();
}

}  // namespace

// --- Campaigns ---------------------------------------------------------------------------------

void NEBAMeasurement::handleOpenURL(const std::optional<ns::URL>& url,
                                    std::optional<int64_t> clickTimestamp) {
    if (!url || url->absoluteString().empty()) return;
    handleDeepLink(*url, clickTimestamp);
}

bool NEBAMeasurement::isValidCampaignURLParamDictionary(const ns::Dictionary& parameters) {
    for (const char* key : {"utm_campaign", "gclid", "utm_medium", "utm_source"}) {
        if (!nonEmptyString(parameters, key).empty()) return true;
    }
    return false;
}

void NEBAMeasurement::handleDeepLink(const ns::URL& url, std::optional<int64_t> clickTimestamp) {
    auto query = neba_dictionaryWithHttpArgumentsString(url.query().value_or(""));
    if (query.empty()) {
        NEBAMonitor::debug("Deep Link Web URL query is empty");
        return;
    }
    if (!isValidCampaignURLParamDictionary(query)) {
        NEBAMonitor::debug("Deep Link does not contain valid required params. URL params",
                           {ns::Value(query)});
        return;
    }
    ns::Dictionary parameters;
    for (const auto& [key, parameter] : kCampaignParameters) {
        std::string value = nonEmptyString(query, key);
        if (!value.empty()) parameters.insert_or_assign(parameter, ns::Value(value));
    }
    if (clickTimestamp) parameters.insert_or_assign("click_timestamp", ns::Value(*clickTimestamp));
    logOwnEvent("_cmp", parameters);
}

std::optional<ns::URL> NEBAMeasurement::deepLinkFromUserActivity(
    const std::shared_ptr<ui::UserActivity>& activity) {
    if (!activity) {
        NEBAMonitor::debug("User Activity is empty. User Activity", {ns::Value()});
        return std::nullopt;
    }
    if (systemMajorVersion() <= 8) {
        NEBAMonitor::debug("Deep Link is only supported on iOS 9 and above");
        return std::nullopt;
    }
    const auto* type = NSDKClassFromString(std::string("NSUserActivity"));
    if (!type || !type->instancesRespondTo("webpageURL") ||
        !type->instancesRespondTo("activityType")) {
        NEBAMonitor::debug("NSUserActivity is not supported");
        return std::nullopt;
    }
    const auto& page = activity->webpageURL();
    if (activity->activityType() == ui::kUserActivityTypeBrowsingWeb && page &&
        !page->absoluteString().empty())
        return page;
    NEBAMonitor::debug("User Activity does not have Deep Link. User Activity",
                       {ns::Value(activity->description())});
    return std::nullopt;
}

void NEBAMeasurement::maybeReportStoredCampaignEventWithClickTimestamp(int64_t clickTimestamp) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    auto stored = defaults->stringForKey(kDeepLinkKey);
    if (!stored || stored->empty()) return;
    defaults->removeObjectForKey(kDeepLinkKey);
    handleOpenURL(ns::URL::parse(*stored), clickTimestamp);
}

// --- First open and updates ------------------------------------------------------------------

int64_t NEBAMeasurement::timestampMillisRoundedUpToNextHour(int64_t millis) {
    constexpr int64_t kHour = 3600000;
    int64_t base = millis - millis % kHour;
    // Near the end of the range the next hour cannot be held; stay on the last whole one.
    return base > std::numeric_limits<int64_t>::max() - kHour ? base : base + kHour;
}

std::optional<ns::FileAttributes> NEBAMeasurement::fileAttributesForPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    auto attributes = ns::FileManager::defaultManager().attributesOfItem(path);
    if (!attributes) {
        NEBAMonitor::log(NEBALogLevel::WarningSampledOnly,
                         "Unable to read attributes of path. Path, error",
                         {ns::Value(path), attributes.error()});
        return std::nullopt;
    }
    return *attributes;
}

bool NEBAMeasurement::isAppUpdateWithAnalytics() {
    double now = dispatch::Clock::current().wallTime();
    auto created = [&](const std::string& path) -> std::optional<double> {
        auto attributes = fileAttributesForPath(path);
        if (!attributes) return std::nullopt;
        return attributes->creationDate.timeIntervalSince1970();
    };
    std::string bundlePath = ns::Bundle::mainBundle()->bundlePath();
    std::string bundleFolder = std::filesystem::path(bundlePath).parent_path().string();
    auto library = created(ns::Sandbox::libraryDirectory());
    auto bundle = created(bundleFolder);
    // A missing date counts as no interval at all.
    auto apart = [](std::optional<double> a, std::optional<double> b) {
        return a && b ? std::fabs(*a - *b) : 0.0;
    };
    constexpr double kThirtyDays = 2592000;
    bool freshInstallLook = apart(library, bundle) < 60 && apart(library, now) < kThirtyDays &&
                            apart(bundle, now) < kThirtyDays;
    auto stored =
        keychain_->keychainValueWithIdentifier(kFirstOpenCountIdentifier, firstOpenKeychainAppID());
    return !freshInstallLook && previousNMPAppID_.value_or("").empty() &&
           (!stored || stored->empty());
}

void NEBAMeasurement::reportFirstOpenOnWorkerQueue() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
    auto exists = database_->containsUserAttributeWithName("_fot");
    if (!exists) {
        NEBAMonitor::error("Failed to query first open property. Error", {exists.error()});
        return;
    }
    int64_t earlierFirstOpens = firstOpenCount();
    if (*exists) {
        if (earlierFirstOpens <= 0)
            keychain_->upsertKeychainValue("1", kFirstOpenCountIdentifier,
                                           firstOpenKeychainAppID());
        return;
    }
    auto millis = static_cast<int64_t>(initTimestamp_ * 1000);
    if (auto firstOpenTime = NEBAUserAttribute::initWithName(
            "_fot", NEBAValue(timestampMillisRoundedUpToNextHour(millis)), initTimestamp_))
        setUserAttributeOnWorkerQueue(*firstOpenTime);
    auto set = database_->containsUserAttributeWithName("_fot");
    if (!set) {
        NEBAMonitor::error("Failed to query first open property after setting it. Error",
                           {set.error()});
        return;
    }
    if (!*set) {
        NEBAMonitor::error("Failed to set first open property");
        return;
    }
    ns::Dictionary parameters{{"_c", ns::Value(1)}};
    if (!previousNMPAppID_.value_or("").empty())
        parameters.insert_or_assign("_pnmp", ns::Value(*previousNMPAppID_));
    parameters.insert_or_assign("_pfo", ns::Value(earlierFirstOpens));
    parameters.insert_or_assign("_uwa", ns::Value(isAppUpdateWithAnalytics() ? 1 : 0));
    // Straight to the worker's road: no interceptor sees these, whatever the facade says.
    for (auto& [name, eventParameters] :
         {std::pair<const char*, ns::Dictionary>{"_f", parameters},
          std::pair<const char*, ns::Dictionary>{"_e", {{"_et", ns::Value(1)}}}}) {
        auto event =
            NEBAEvent::initWithOrigin("auto", false, name, initTimestamp_, 0, eventParameters);
        if (!event) continue;
        logEventOnWorkerQueue(*event);
        if (context_.events) context_.events->notifyEventListeners(*event);
    }
    maybeReportStoredCampaignEventWithClickTimestamp(millis - 1);
}

void NEBAMeasurement::reportAppUpdateOnWorkerQueue() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("reportAppUpdateOnWorkerQueue");
    reportVersionChange(identity_->appVersion(), persistedConfig_->appVersion(), "_au", "_pv",
                        [this](const std::string& v) { persistedConfig_->setAppVersion(v); });
}

void NEBAMeasurement::reportOSUpdateOnWorkerQueue() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("reportOSUpdateOnWorkerQueue");
    reportVersionChange(NEBAEnvironmentInfo::sharedInstance().deviceOSVersion(),
                        persistedConfig_->osVersion(), "_ou", "_po",
                        [this](const std::string& v) { persistedConfig_->setOsVersion(v); });
}

void NEBAMeasurement::reportVersionChange(const std::string& current,
                                          const std::optional<std::string>& stored,
                                          const char* eventName, const char* parameterName,
                                          const std::function<void(const std::string&)>& store) {
    if (stored && *stored == current) return;
    store(current);
    // The first launch only records the version: there is no update to report.
    if (stored && !stored->empty()) logOwnEvent(eventName, {{parameterName, ns::Value(*stored)}});
}

// --- The launch's deep link --------------------------------------------------------------------

void NEBAMeasurement::load() {
    static std::once_flag once;
    std::call_once(once, [] {
        ns::NotificationCenter::defaultCenter().addObserver(
            ui::kApplicationDidFinishLaunchingNotification, nullptr,
            [](const ns::Notification& notification) {
                handleAppDidFinishLaunching(notification.userInfo);
            });
    });
}

void NEBAMeasurement::handleAppDidFinishLaunching(const ns::Dictionary& launchOptions) {
    if (launchOptions.empty()) return;
    auto defaults = ns::UserDefaults::standardUserDefaults();
    bool stored = false;
    if (systemMajorVersion() >= 9) {
        auto it = launchOptions.find(ui::kApplicationLaunchOptionsUserActivityDictionaryKey);
        const ns::Dictionary* activities =
            it != launchOptions.end() ? it->second.dictionary() : nullptr;
        if (activities && !activities->empty()) {
            auto found = activities->find(ui::kApplicationLaunchOptionsUserActivityKey);
            if (found != activities->end()) {
                auto link = deepLinkFromUserActivity(
                    ui::UserActivity::fromDictionaryRepresentation(found->second));
                if (link && !link->absoluteString().empty()) {
                    defaults->setObject(kDeepLinkKey, ns::Value(link->absoluteString()));
                    stored = true;
                }
            }
        }
    }
    std::string url = nonEmptyString(launchOptions, ui::kApplicationLaunchOptionsURLKey);
    if (!url.empty() && !stored) defaults->setObject(kDeepLinkKey, ns::Value(url));
}
