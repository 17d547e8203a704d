#pragma once

#include <memory>

class NEBMessaging;

// Lets the messaging library see every notification the platform hands to the application
// without the application passing it on: hooks that first record the receipt with the
// facade, then run the delegate's own implementation. Installed once, during configuration,
// unless the application's Info dictionary switches it off. Main thread.
class NEBMessagingAppDelegateProxy {
public:
    static constexpr const char* kHookOwner = "NEBMessagingAppDelegateProxy";

    static bool canSwizzleAppDelegate();
    // The hooks record with `messaging` (held weakly). When its remote-message delegate
    // answers for socket messages, its receiver records those first as well.
    static void swizzleOriginalAppDelegate(const std::shared_ptr<NEBMessaging>& messaging);
    static bool isInstalled();
};
