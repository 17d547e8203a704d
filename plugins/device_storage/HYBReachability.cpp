#include "plugins/device_storage/HYBReachability.h"

#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"

std::shared_ptr<HYBReachability> HYBReachability::withSource(
    std::shared_ptr<net::ReachabilityFlagSource> source) {
    if (!source) return nullptr;
    return std::make_shared<HYBReachability>(std::move(source));
}

std::shared_ptr<HYBReachability> HYBReachability::reachabilityForInternetConnection() {
    return withSource(
        net::ReachabilityFlagSource::create(net::ReachabilityTarget::forNetworkInGeneral()));
}

std::shared_ptr<HYBReachability> HYBReachability::reachabilityWithAddress(
    const sockaddr_in& address) {
    auto target = net::ReachabilityTarget::forAddress(reinterpret_cast<const sockaddr*>(&address),
                                                      sizeof address);
    if (!target) return nullptr;
    return withSource(net::ReachabilityFlagSource::create(*target));
}

std::shared_ptr<HYBReachability> HYBReachability::reachabilityWithHostName(
    const std::string& hostName) {
    return withSource(
        net::ReachabilityFlagSource::create(net::ReachabilityTarget::forHostName(hostName)));
}

HYBReachability::HYBReachability(std::shared_ptr<net::ReachabilityFlagSource> reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)) {}

HYBReachability::~HYBReachability() {
    stopNotifier();
    if (reachabilityRef_) reachabilityRef_->setCallback({});
}

bool HYBReachability::startNotifier() {
    HYB_EXPECT_MAIN_THREAD();
    if (!reachabilityRef_) return false;
    // The context is not kept alive by the source: a change after this object is gone
    // finds no context.
    std::weak_ptr<ns::Object> context = weak_from_this();
    const bool installed = reachabilityRef_->setCallback(
        [context](net::ReachabilityFlags flags) { ReachabilityCallback(flags, context.lock()); });
    return installed && reachabilityRef_->scheduleWithMainRunLoop();
}

void HYBReachability::stopNotifier() {
    HYB_EXPECT_MAIN_THREAD();
    if (reachabilityRef_) reachabilityRef_->unscheduleFromMainRunLoop();
}

void HYBReachability::ReachabilityCallback(net::ReachabilityFlags,
                                           const std::shared_ptr<ns::Object>& info) {
    HYB_EXPECT_MAIN_THREAD();
    if (!info) {
        ns::nslog("info was NULL in ReachabilityCallback");
        return;
    }
    if (!std::dynamic_pointer_cast<HYBReachability>(info)) {
        ns::nslog("info was wrong class in ReachabilityCallback");
        return;
    }
    ns::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification, info);
}

HYBNetworkStatus HYBReachability::networkStatusForFlags(net::ReachabilityFlags flags) {
    if (!(flags & net::kReachabilityFlagsReachable)) return NotReachable;
    if (flags & net::kReachabilityFlagsIsWWAN) return ReachableViaWWAN;
    if (!(flags & net::kReachabilityFlagsConnectionRequired)) return ReachableViaWiFi;
    const bool onDemandOrTraffic = flags & (net::kReachabilityFlagsConnectionOnDemand |
                                            net::kReachabilityFlagsConnectionOnTraffic);
    if (onDemandOrTraffic && !(flags & net::kReachabilityFlagsInterventionRequired)) {
        return ReachableViaWiFi;
    }
    return NotReachable;
}

HYBNetworkStatus HYBReachability::currentReachabilityStatus() const {
    if (!reachabilityRef_) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "currentNetworkStatus called with NULL reachabilityRef");
    }
    std::optional<net::ReachabilityFlags> flags = reachabilityRef_->currentFlags();
    return flags ? networkStatusForFlags(*flags) : NotReachable;
}

bool HYBReachability::connectionRequired() const {
    if (!reachabilityRef_) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "connectionRequired called with NULL reachabilityRef");
    }
    std::optional<net::ReachabilityFlags> flags = reachabilityRef_->currentFlags();
    return flags && (*flags & net::kReachabilityFlagsConnectionRequired);
}
