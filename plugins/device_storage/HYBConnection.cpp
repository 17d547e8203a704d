#include "plugins/device_storage/HYBConnection.h"

#include <initializer_list>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/svc/Telephony.h"
#include "platform/ui/Application.h"
#include "plugins/device_storage/HYBReachability.h"
#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

namespace {

bool isOneOf(const std::optional<std::string>& technology,
             std::initializer_list<const char*> candidates) {
    if (!technology) return false;
    for (const char* candidate : candidates) {
        if (*technology == candidate) return true;
    }
    return false;
}

// The generation of the cellular connection, from the radio's access technology.
std::string cellularType() {
    if (!NSDK_TBXSystemVersion::isSystemVersionAtLeast("7.0")) {
        return "cellular";
    }
    const std::optional<std::string> technology =
        svc::Telephony::shared().currentRadioAccessTechnology();
    if (isOneOf(technology,
                {svc::kCTRadioAccessTechnologyGPRS, svc::kCTRadioAccessTechnologyEdge})) {
        return "2g";
    }
    if (isOneOf(
            technology,
            {svc::kCTRadioAccessTechnologyWCDMA, svc::kCTRadioAccessTechnologyHSDPA,
             svc::kCTRadioAccessTechnologyHSUPA, svc::kCTRadioAccessTechnologyCDMA1x,
             svc::kCTRadioAccessTechnologyCDMAEVDORev0, svc::kCTRadioAccessTechnologyCDMAEVDORevA,
             svc::kCTRadioAccessTechnologyCDMAEVDORevB, svc::kCTRadioAccessTechnologyeHRPD})) {
        return "3g";
    }
    if (isOneOf(technology, {svc::kCTRadioAccessTechnologyLTE})) return "4g";
    return "cellular";
}

}  // namespace

HYBConnection::HYBConnection() {
    registerAction("getConnectionInfo", &HYBConnection::getConnectionInfo);
}

HYBConnection::~HYBConnection() = default;

void HYBConnection::observe(const char* name,
                            std::function<void(HYBConnection&, const ns::Notification&)> handler) {
    std::weak_ptr<HYBConnection> weakSelf = sharedSelf<HYBConnection>();
    ns::NotificationCenter::defaultCenter().addObserver(
        this, name, nullptr, [weakSelf, handler](const ns::Notification& notification) {
            if (auto self = weakSelf.lock()) handler(*self, notification);
        });
}

void HYBConnection::pluginInitialize() {
    HYB_EXPECT_MAIN_THREAD();
    setConnectionType("none");
    auto reach = HYBReachability::reachabilityForInternetConnection();
    {
        dispatch::Lock lock(mutex_);
        internetReach_ = reach;
    }
    // No push: the page has not asked yet.
    setConnectionType(w3cConnectionTypeFor(reach));
    if (reach) reach->startNotifier();
    observe(kNetworkReachabilityChangedNotification, &HYBConnection::updateConnectionType);
    observe(svc::kCTRadioAccessTechnologyDidChangeNotification,
            &HYBConnection::updateConnectionType);
    observe(ui::kApplicationDidEnterBackgroundNotification,
            [](HYBConnection& self, const ns::Notification&) { self.onPause(); });
    observe(ui::kApplicationWillEnterForegroundNotification,
            [](HYBConnection& self, const ns::Notification&) { self.onResume(); });
}

void HYBConnection::getConnectionInfo(const HYBInvokedUrlCommand& command) {
    HYB_EXPECT_MAIN_THREAD();
    {
        dispatch::Lock lock(mutex_);
        callbackId_ = command.callbackId();
    }
    sendPluginResult();
}

void HYBConnection::sendPluginResult() {
    HYB_EXPECT_MAIN_THREAD();
    auto result =
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, connectionType());
    result->setKeepCallbackAsBool(true);
    std::optional<std::string> callbackId;
    {
        dispatch::Lock lock(mutex_);
        callbackId = callbackId_;
    }
    if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

std::string HYBConnection::w3cConnectionTypeFor(
    const std::shared_ptr<HYBReachability>& reachability) const {
    HYB_EXPECT_MAIN_THREAD();
    if (!reachability) return "none";
    switch (reachability->currentReachabilityStatus()) {
        case NotReachable:
            return "none";
        case ReachableViaWiFi:
            return "wifi";
        case ReachableViaWWAN:
            if (reachability->connectionRequired()) return "none";
            return cellularType();
    }
    return "unknown";
}

bool HYBConnection::isCellularConnection(std::string_view type) {
    return type == "2g" || type == "3g" || type == "4g" || type == "cellular";
}

void HYBConnection::updateReachability(const std::shared_ptr<HYBReachability>& reachability) {
    HYB_EXPECT_MAIN_THREAD();
    if (!reachability) {
        sendPluginResult();
        return;
    }
    std::string type = w3cConnectionTypeFor(reachability);
    if (type == connectionType()) return;
    setConnectionType(std::move(type));
    sendPluginResult();
}

void HYBConnection::updateConnectionType(const ns::Notification& notification) {
    HYB_EXPECT_MAIN_THREAD();
    if (auto reachability = std::dynamic_pointer_cast<HYBReachability>(notification.object)) {
        updateReachability(reachability);
    }
}

void HYBConnection::onPause() {
    HYB_EXPECT_MAIN_THREAD();
    if (auto reach = internetReach()) reach->stopNotifier();
}

void HYBConnection::onResume() {
    HYB_EXPECT_MAIN_THREAD();
    auto reach = internetReach();
    if (reach) reach->startNotifier();
    updateReachability(reach);
}

std::string HYBConnection::connectionType() const {
    dispatch::Lock lock(mutex_);
    return connectionType_;
}

void HYBConnection::setConnectionType(std::string type) {
    dispatch::Lock lock(mutex_);
    connectionType_ = std::move(type);
}

std::shared_ptr<HYBReachability> HYBConnection::internetReach() const {
    dispatch::Lock lock(mutex_);
    return internetReach_;
}
