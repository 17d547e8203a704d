#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/ReachabilityFlagSource.h"
#include "platform/ns/Notification.h"
#include "platform/ns/Object.h"

// Posted on the default centre whenever a monitor's flags change; the object is the monitor,
// the user information holds the flags before the change.
inline constexpr const char* kNIPReachabilityChangedNotification =
    "kNIPReachabilityChangedNotification";
inline constexpr const char* kNIPReachabilityPreviousValueKey = "kNIPReachabilityPreviousValueKey";

// Watches whether one host (or the network in general) can be reached: callers read the last
// known flags and hear kNIPReachabilityChangedNotification when they change.
//
// Belongs to the main thread: start, stop and every query throw ns::Exception
// (NSInternalInconsistencyException) "NIPReachability should be used from the main thread"
// elsewhere. Failures of the flag source are logged on the toolbox's shared logger, never
// thrown. A change the source reports after the monitor is gone reaches nobody.
class NIPReachability : public ns::Object {
public:
    // A monitor for the host; no host name gives the monitor of init().
    static std::shared_ptr<NIPReachability> initWithHostName(
        const std::optional<std::string>& hostName);
    // A monitor for 0.0.0.0: the network in general.
    static std::shared_ptr<NIPReachability> init();
    // Throws ns::Exception (NSInternalInconsistencyException) "Nil reachability ref." for no
    // source.
    static std::shared_ptr<NIPReachability> initWithReachability(
        std::shared_ptr<net::ReachabilityFlagSource> reachability);

    ~NIPReachability() override;
    NIPReachability(const NIPReachability&) = delete;
    NIPReachability& operator=(const NIPReachability&) = delete;

    const std::optional<std::string>& hostName() const { return hostName_; }
    void setHostName(std::optional<std::string> hostName) { hostName_ = std::move(hostName); }
    bool monitoring() const { return monitoring_; }

    // Reads the flags now and, when that works, starts without a handler; else logs.
    void start();
    // Starts watching (once), then reads the initial flags off the main thread and calls the
    // handler on the main thread once they are known (or known to be unknown). A change that
    // arrives before the initial read wins over it.
    void startWithCompletionHandler(std::function<void()> handler);
    // Stops watching; the last flags stay.
    void stop();

    // A change of the flags as the source reports it.
    void callbackWithFlags(net::ReachabilityFlags flags);

    // Whether any bit of the mask is set in the last known flags.
    bool isFlagEnabled(net::ReachabilityFlags mask) const;
    bool isReachable() const { return isFlagEnabled(net::kReachabilityFlagsReachable); }
    bool isConnectionRequired() const {
        return isFlagEnabled(net::kReachabilityFlagsConnectionRequired);
    }
    bool isConnectionOnTraffic() const {
        return isFlagEnabled(net::kReachabilityFlagsConnectionOnTraffic);
    }
    bool isInterventionRequired() const {
        return isFlagEnabled(net::kReachabilityFlagsInterventionRequired);
    }
    bool isConnectionOnDemand() const {
        return isFlagEnabled(net::kReachabilityFlagsConnectionOnDemand);
    }
    bool isDirect() const { return isFlagEnabled(net::kReachabilityFlagsIsDirect); }
    bool isCellularNetwork() const { return isFlagEnabled(net::kReachabilityFlagsIsWWAN); }

    // Whether the flags before the change that the notification announces had the
    // reachable bit.
    static bool wasPreviouslyReachable(const ns::Notification& notification);

    const std::shared_ptr<net::ReachabilityFlagSource>& reachability() const {
        return reachability_;
    }

    explicit NIPReachability(std::shared_ptr<net::ReachabilityFlagSource> reachability);

private:
    std::shared_ptr<NIPReachability> sharedSelf();
    void stopMonitoring();
    static void requireMainThread();

    std::shared_ptr<net::ReachabilityFlagSource> reachability_;
    std::optional<std::string> hostName_;
    net::ReachabilityFlags reachabilityFlags_ = 0;
    bool monitoring_ = false;
    bool hasPostedNotification_ = false;
};
