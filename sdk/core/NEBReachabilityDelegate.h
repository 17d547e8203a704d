#pragma once

#include <cstdint>

class NEBReachabilityChecker;

// The reachability checker's four-valued status.
enum class NEBReachabilityStatus : int32_t {
    Unknown = 0,
    NotReachable = 1,
    ViaWifi = 2,
    ViaCellular = 3,
};

// Told by a reachability checker, on the main thread, when its status changes.
class NEBReachabilityDelegate {
public:
    virtual ~NEBReachabilityDelegate() = default;
    virtual void reachability(NEBReachabilityChecker& checker, NEBReachabilityStatus status) = 0;
};
