#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/RunLoop.h"
#include "sdk/core/NEBNetworkLoggerDelegate.h"
#include "sdk/core/NEBReachabilityDelegate.h"

// Bits of the network reachability flags that decide the status.
inline constexpr uint32_t kNEBReachabilityFlagReachable = 2;
inline constexpr uint32_t kNEBReachabilityFlagConnectionRequired = 4;
inline constexpr uint32_t kNEBReachabilityFlagConnectionOnTraffic = 8;
inline constexpr uint32_t kNEBReachabilityFlagInterventionRequired = 16;
inline constexpr uint32_t kNEBReachabilityFlagConnectionOnDemand = 32;
inline constexpr uint32_t kNEBReachabilityFlagIsWWAN = 0x40000;

using NEBReachabilityHandle = void*;
// Called by the service with the handle, the new flags and the context given with it.
using NEBReachabilityCallback = void (*)(NEBReachabilityHandle handle, uint32_t flags,
                                         void* context);

// The network-reachability service as five functions, so that tests can stand in for it: make
// a handle for a host name (null when none can be made), set its change callback, schedule it
// on a run loop and unschedule it (each true when it worked), and release it.
struct NEBReachabilityApi {
    NEBReachabilityHandle (*createWithNameFn)(const char* hostName);
    bool (*setCallbackFn)(NEBReachabilityHandle handle, NEBReachabilityCallback callback,
                          void* context);
    bool (*scheduleWithRunLoopFn)(NEBReachabilityHandle handle, dispatch::RunLoop& runLoop);
    bool (*unscheduleFromRunLoopFn)(NEBReachabilityHandle handle, dispatch::RunLoop& runLoop);
    void (*releaseFn)(NEBReachabilityHandle handle);
};

// The table over the platform's reachability service.
const NEBReachabilityApi* NEBReachabilityDefaultApi();

// Watches whether one host is reachable and tells its delegate, on the main run loop, when
// the four-valued status changes. The status stays Unknown until the first report after a
// start. Belongs to the main thread: it is started, stopped, reported to and destroyed there,
// so that no report can reach a checker that another thread is tearing down.
class NEBReachabilityChecker {
public:
    // Null (after logging "Invalid host specified") for an empty host.
    static std::unique_ptr<NEBReachabilityChecker> create(
        std::weak_ptr<NEBReachabilityDelegate> reachabilityDelegate,
        std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate, const std::string& host);
    ~NEBReachabilityChecker();
    NEBReachabilityChecker(const NEBReachabilityChecker&) = delete;
    NEBReachabilityChecker& operator=(const NEBReachabilityChecker&) = delete;

    // True when monitoring runs afterwards; a second start makes no second handle.
    bool start();
    // Stops monitoring; the status reads Unknown again.
    void stop();
    bool isActive() const { return handle_ != nullptr; }
    NEBReachabilityStatus reachabilityStatus() const { return status_; }
    const std::string& host() const { return host_; }

    std::shared_ptr<NEBReachabilityDelegate> reachabilityDelegate() const {
        return reachabilityDelegate_.lock();
    }
    void setReachabilityDelegate(std::weak_ptr<NEBReachabilityDelegate> delegate) {
        reachabilityDelegate_ = std::move(delegate);
    }
    std::shared_ptr<NEBNetworkLoggerDelegate> loggerDelegate() const {
        return loggerDelegate_.lock();
    }
    void setLoggerDelegate(std::weak_ptr<NEBNetworkLoggerDelegate> delegate) {
        loggerDelegate_ = std::move(delegate);
    }
    const NEBReachabilityApi* reachabilityApi() const { return api_; }
    // Only while stopped; a running checker logs and keeps its table.
    void setReachabilityApi(const NEBReachabilityApi* api);

    static NEBReachabilityStatus statusForFlags(uint32_t flags);
    // The service's report of new flags.
    void reachabilityFlagsChanged(uint32_t flags);

private:
    NEBReachabilityChecker(std::weak_ptr<NEBReachabilityDelegate> reachabilityDelegate,
                           std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate,
                           std::string host);
    void log(NEBNetworkLogLevel level, std::string_view message,
             const std::vector<ns::Value>& contexts = {}) const;

    NEBReachabilityStatus status_ = NEBReachabilityStatus::Unknown;
    const NEBReachabilityApi* api_;
    NEBReachabilityHandle handle_ = nullptr;
    std::string host_;
    std::weak_ptr<NEBReachabilityDelegate> reachabilityDelegate_;
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate_;
};
