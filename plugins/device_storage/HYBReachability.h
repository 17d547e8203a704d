#pragma once

#include <netinet/in.h>

#include <memory>
#include <string>

#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/ReachabilityFlags.h"
#include "platform/ns/Object.h"

// Posted on the default centre on every change of a watched route; the object is the
// HYBReachability that watches it.
inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

// How a route can be reached.
enum HYBNetworkStatus : int {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    // Any reachable route that is not cellular.
    ReachableViaWiFi = 2,
};

// Watches the route to one host, one address or the internet in general, and announces each
// change as kNetworkReachabilityChangedNotification on the main thread. Every instance owns a
// flag source: the factories give nothing when no source can be made. Main thread, but for
// the status queries.
class HYBReachability : public ns::Object {
public:
    // The route to 0.0.0.0: the internet in general.
    static std::shared_ptr<HYBReachability> reachabilityForInternetConnection();
    static std::shared_ptr<HYBReachability> reachabilityWithAddress(const sockaddr_in& address);
    static std::shared_ptr<HYBReachability> reachabilityWithHostName(const std::string& hostName);

    explicit HYBReachability(std::shared_ptr<net::ReachabilityFlagSource> reachabilityRef);
    ~HYBReachability() override;
    HYBReachability(const HYBReachability&) = delete;
    HYBReachability& operator=(const HYBReachability&) = delete;

    // Installs ReachabilityCallback with this object as its context, then schedules the
    // source on the main run loop; true when both worked (a failed installation schedules
    // nothing).
    bool startNotifier();
    void stopNotifier();

    // NotReachable when the flags cannot be read.
    HYBNetworkStatus currentReachabilityStatus() const;
    static HYBNetworkStatus networkStatusForFlags(net::ReachabilityFlags flags);
    bool connectionRequired() const;

    // What the source calls on a change: posts the notification with the context, which must
    // be a live HYBReachability (anything else is logged and dropped).
    static void ReachabilityCallback(net::ReachabilityFlags flags,
                                     const std::shared_ptr<ns::Object>& info);

    const std::shared_ptr<net::ReachabilityFlagSource>& reachabilityRef() const {
        return reachabilityRef_;
    }

private:
    static std::shared_ptr<HYBReachability> withSource(
        std::shared_ptr<net::ReachabilityFlagSource> source);

    std::shared_ptr<net::ReachabilityFlagSource> reachabilityRef_;
};
