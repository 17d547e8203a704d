#include "sdk/core/NEBReachabilityChecker.h"

#include "platform/dispatch/QueueContract.h"

namespace {

void flagsChanged(NEBReachabilityHandle, uint32_t flags, void* context) {
    static_cast<NEBReachabilityChecker*>(context)->reachabilityFlagsChanged(flags);
}

const char* statusName(NEBReachabilityStatus status) {
    switch (status) {
        case NEBReachabilityStatus::Unknown:
            return "Unknown";
        case NEBReachabilityStatus::NotReachable:
            return "Disconnected";
        case NEBReachabilityStatus::ViaWifi:
        case NEBReachabilityStatus::ViaCellular:
            return "Connected";
    }
    return "Unknown";
}

}  // namespace

std::unique_ptr<NEBReachabilityChecker> NEBReachabilityChecker::create(
    std::weak_ptr<NEBReachabilityDelegate> reachabilityDelegate,
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate, const std::string& host) {
    if (host.empty()) {
        if (auto logger = loggerDelegate.lock()) {
            logger->nebNetwork_logWithLevel(NEBNetworkLogLevel::Error, "Invalid host specified");
        }
        return nullptr;
    }
    return std::unique_ptr<NEBReachabilityChecker>(new NEBReachabilityChecker(
        std::move(reachabilityDelegate), std::move(loggerDelegate), host));
}

NEBReachabilityChecker::NEBReachabilityChecker(
    std::weak_ptr<NEBReachabilityDelegate> reachabilityDelegate,
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate, std::string host)
    : api_(NEBReachabilityDefaultApi()),
      host_(std::move(host)),
      reachabilityDelegate_(std::move(reachabilityDelegate)),
      loggerDelegate_(std::move(loggerDelegate)) {}

NEBReachabilityChecker::~NEBReachabilityChecker() {
    HYB_EXPECT_MAIN_THREAD();
    reachabilityDelegate_.reset();
    loggerDelegate_.reset();
    stop();
}

bool NEBReachabilityChecker::start() {
    HYB_EXPECT_MAIN_THREAD();
    if (!handle_) {
        handle_ = api_->createWithNameFn(host_.c_str());
        if (!handle_) return false;
        auto& runLoop = dispatch::RunLoop::main();
        if (!api_->setCallbackFn(handle_, flagsChanged, this) ||
            !api_->scheduleWithRunLoopFn(handle_, runLoop)) {
            api_->releaseFn(handle_);
            handle_ = nullptr;
            log(NEBNetworkLogLevel::Error, "Failed to start reachability handle");
            return false;
        }
    }
    log(NEBNetworkLogLevel::Debug, "Monitoring the network status");
    return true;
}

void NEBReachabilityChecker::stop() {
    HYB_EXPECT_MAIN_THREAD();
    if (handle_) {
        api_->unscheduleFromRunLoopFn(handle_, dispatch::RunLoop::main());
        api_->setCallbackFn(handle_, nullptr, nullptr);
        api_->releaseFn(handle_);
        handle_ = nullptr;
    }
    status_ = NEBReachabilityStatus::Unknown;
}

void NEBReachabilityChecker::setReachabilityApi(const NEBReachabilityApi* api) {
    HYB_EXPECT_MAIN_THREAD();
    if (handle_) {
        log(NEBNetworkLogLevel::Error,
            "Cannot change reachability API while reachability is running. Call stop first.");
        return;
    }
    api_ = api ? api : NEBReachabilityDefaultApi();
}

NEBReachabilityStatus NEBReachabilityChecker::statusForFlags(uint32_t flags) {
    bool connected = false;
    if (flags & kNEBReachabilityFlagReachable) {
        if (!(flags & kNEBReachabilityFlagConnectionRequired)) {
            connected = true;
        } else if ((flags & (kNEBReachabilityFlagConnectionOnTraffic |
                             kNEBReachabilityFlagConnectionOnDemand)) &&
                   !(flags & kNEBReachabilityFlagInterventionRequired)) {
            connected = true;
        }
    }
    if (!connected) return NEBReachabilityStatus::NotReachable;
    return (flags & kNEBReachabilityFlagIsWWAN) ? NEBReachabilityStatus::ViaCellular
                                                : NEBReachabilityStatus::ViaWifi;
}

void NEBReachabilityChecker::reachabilityFlagsChanged(uint32_t flags) {
    HYB_EXPECT_MAIN_THREAD();
    auto status = statusForFlags(flags);
    if (status == status_) return;
    log(NEBNetworkLogLevel::Debug, "Network status has changed. Code, status",
        {ns::Value(static_cast<int>(status)), ns::Value(statusName(status))});
    status_ = status;
    if (auto delegate = reachabilityDelegate_.lock()) delegate->reachability(*this, status);
}

void NEBReachabilityChecker::log(NEBNetworkLogLevel level, std::string_view message,
                                 const std::vector<ns::Value>& contexts) const {
    if (auto logger = loggerDelegate_.lock()) {
        logger->nebNetwork_logWithLevel(level, message, contexts);
    }
}
