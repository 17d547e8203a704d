#pragma once

// Told by the HTTP client after its reachability status has changed.
class NEBNetworkReachabilityDelegate {
public:
    virtual ~NEBNetworkReachabilityDelegate() = default;
    virtual void reachabilityDidChange() = 0;
};
