#include "toolbox/Net/NIPReachability.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Exception.h"
#include "platform/ns/NotificationCenter.h"
#include "toolbox/Foundation/NSDK_TBXLogger.h"

namespace {

void logError(const char* function, const char* message) {
    if (auto logger = NSDK_TBXLogger::sharedLogger()) logger->logFuncError(function, "%s", message);
}

}  // namespace

std::shared_ptr<NIPReachability> NIPReachability::initWithHostName(
    const std::optional<std::string>& hostName) {
    if (!hostName) return init();
    auto monitor = initWithReachability(
        net::ReachabilityFlagSource::create(net::ReachabilityTarget::forHostName(*hostName)));
    monitor->hostName_ = hostName;
    return monitor;
}

std::shared_ptr<NIPReachability> NIPReachability::init() {
    return initWithReachability(
        net::ReachabilityFlagSource::create(net::ReachabilityTarget::forNetworkInGeneral()));
}

std::shared_ptr<NIPReachability> NIPReachability::initWithReachability(
    std::shared_ptr<net::ReachabilityFlagSource> reachability) {
    if (!reachability) {
        throw ns::Exception(ns::kInternalInconsistencyException, "Nil reachability ref.");
    }
    return std::make_shared<NIPReachability>(std::move(reachability));
}

NIPReachability::NIPReachability(std::shared_ptr<net::ReachabilityFlagSource> reachability)
    : reachability_(std::move(reachability)) {}

NIPReachability::~NIPReachability() {
    stopMonitoring();
}

std::shared_ptr<NIPReachability> NIPReachability::sharedSelf() {
    return ns::Object::sharedSelf<NIPReachability>();
}

void NIPReachability::requireMainThread() {
    if (!dispatch::RunLoop::isMainThread()) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "NIPReachability should be used from the main thread");
    }
}

void NIPReachability::start() {
    requireMainThread();
    if (monitoring_) return;
    auto flags = reachability_->currentFlags();
    if (!flags) {
        logError("NIPReachability::start", "Unable to get reachability flags");
        return;
    }
    reachabilityFlags_ = *flags;
    startWithCompletionHandler(nullptr);
}

void NIPReachability::startWithCompletionHandler(std::function<void()> handler) {
    requireMainThread();
    if (!monitoring_) {
        // The callback holds the monitor weakly: a change queued before the monitor went
        // away finds nobody to tell.
        std::weak_ptr<NIPReachability> weak = sharedSelf();
        bool installed = reachability_->setCallback([weak](net::ReachabilityFlags flags) {
            if (auto self = weak.lock()) self->callbackWithFlags(flags);
        });
        if (installed && reachability_->scheduleWithMainRunLoop()) {
            monitoring_ = true;
        } else {
            if (installed) reachability_->setCallback(nullptr);
            logError("NIPReachability::startWithCompletionHandler",
                     "Unable to schedule reachability in runloop");
        }
    }
    // The first read may wait on name resolution, so it runs off the main thread; the monitor
    // and the handler stay alive until its answer has been taken on the main thread.
    dispatch::Queue::global().async([self = sharedSelf(), handler = std::move(handler)]() mutable {
        auto flags = self->reachability_->currentFlags();
        dispatch::RunLoop::main().post(
            [self = std::move(self), handler = std::move(handler), flags]() mutable {
                if (flags && !self->hasPostedNotification_) {
                    self->reachabilityFlags_ = *flags;
                } else if (!flags) {
                    logError("NIPReachability::startWithCompletionHandler",
                             "Unable to get initial reachability flags");
                }
                if (handler) handler();
            });
    });
}

void NIPReachability::stop() {
    requireMainThread();
    stopMonitoring();
}

void NIPReachability::stopMonitoring() {
    if (!monitoring_) return;
    if (!reachability_->setCallback(nullptr)) {
        logError("NIPReachability::stop", "Unable to reset reachability callback.");
    }
    if (!reachability_->unscheduleFromMainRunLoop()) {
        logError("NIPReachability::stop", "Unable to remove reachability from runloop.");
    }
    monitoring_ = false;
    hasPostedNotification_ = false;
}

void NIPReachability::callbackWithFlags(net::ReachabilityFlags flags) {
    if (flags == reachabilityFlags_ && hasPostedNotification_) return;
    net::ReachabilityFlags previous = reachabilityFlags_;
    reachabilityFlags_ = flags;
    hasPostedNotification_ = true;
    ns::NotificationCenter::defaultCenter().post(
        kNIPReachabilityChangedNotification, sharedSelf(),
        ns::Dictionary{{kNIPReachabilityPreviousValueKey, ns::Value(previous)}});
}

bool NIPReachability::isFlagEnabled(net::ReachabilityFlags mask) const {
    requireMainThread();
    return (reachabilityFlags_ & mask) != 0;
}

bool NIPReachability::wasPreviouslyReachable(const ns::Notification& notification) {
    auto found = notification.userInfo.find(kNIPReachabilityPreviousValueKey);
    if (found == notification.userInfo.end()) return false;
    auto bits = found->second.uint64();
    return bits && (*bits & net::kReachabilityFlagsReachable) != 0;
}
