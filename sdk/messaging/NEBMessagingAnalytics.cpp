#include "sdk/messaging/NEBMessagingAnalytics.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "sdk/core/NEBAnalyticsInternalLogging.h"
#include "sdk/core/NEBAnalyticsStarting.h"

namespace {

constexpr const char* kOpenEvent = "_no";
constexpr const char* kCampaignEvent = "_cmp";
constexpr const char* kOrigin = "ncm";

// The analytics object when analytics is present and answers the operation.
std::shared_ptr<NEBAnalyticsInternalLogging> analyticsAnswering(const char* operation) {
    const rt::Class* cls = rt::ClassRegistry::shared().classNamed(kNEBAnalyticsClassName);
    if (!cls || !cls->instancesRespondTo(operation)) return nullptr;
    return std::dynamic_pointer_cast<NEBAnalyticsInternalLogging>(cls->create());
}

std::string stringFor(const ns::Dictionary& notification, const char* key) {
    auto found = notification.find(key);
    if (found == notification.end() || !found->second.isString()) return "";
    return *found->second.string();
}

}  // namespace

void NEBMessagingAnalytics::logOpenNotification(const ns::Dictionary& notification) {
    logEvent(kOpenEvent, notification);
}

void NEBMessagingAnalytics::logForegroundNotification(const ns::Dictionary& notification) {
    logEvent("_nf", notification);
}

ns::Dictionary NEBMessagingAnalytics::parametersForNotification(
    const ns::Dictionary& notification) {
    ns::Dictionary parameters;
    parameters.insert_or_assign("_nmid", ns::Value(stringFor(notification, "nebula.c.a.c_id")));
    if (auto label = stringFor(notification, "nebula.c.a.c_l"); !label.empty()) {
        parameters.insert_or_assign("_nmn", ns::Value(label));
    }
    if (auto from = stringFor(notification, "from"); from.find("/topics/") != std::string::npos) {
        parameters.insert_or_assign("_nt", ns::Value(from));
    }
    if (auto ts = notification.find("nebula.c.a.ts"); ts != notification.end()) {
        if (int64_t sent = ts->second.integerValue(); sent != 0) {
            parameters.insert_or_assign("_nmt", ns::Value(sent));
        }
    }
    if (auto udt = notification.find("nebula.c.a.udt"); udt != notification.end()) {
        parameters.insert_or_assign("_ndt", udt->second);
    }
    return parameters;
}

void NEBMessagingAnalytics::logEvent(const std::string& event, const ns::Dictionary& notification) {
    if (notification.empty()) return;
    std::string campaign = stringFor(notification, "nebula.c.a.c_id");
    if (campaign.empty()) return;
    ns::Dictionary parameters = parametersForNotification(notification);
    auto tracking = notification.find("nebula.c.a.tc");
    if (event == kOpenEvent && tracking != notification.end() && tracking->second.intValue() == 1) {
        if (auto analytics = analyticsAnswering(kNEBAnalyticsSetInternalUserPropertyOperation)) {
            analytics->setInternalUserProperty(ns::Value(campaign), "_ln");
            logAnalyticsEventWithOrigin(kOrigin, kCampaignEvent,
                                        ns::Dictionary{{"source", ns::Value("Nebula")},
                                                       {"medium", ns::Value("notification")},
                                                       {"campaign", ns::Value(campaign)}});
        }
    }
    logAnalyticsEventWithOrigin(kOrigin, event, parameters);
}

void NEBMessagingAnalytics::logAnalyticsEventWithOrigin(const std::string& origin,
                                                        const std::string& name,
                                                        const ns::Dictionary& parameters) {
    if (auto analytics = analyticsAnswering(kNEBAnalyticsLogInternalEventOperation)) {
        analytics->logInternalEventWithOrigin(origin, name, parameters);
    }
}
