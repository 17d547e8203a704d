#pragma once

// Lets the messaging library see every notification the platform hands to the application
// without the application passing it on: hooks that first record the receipt with the
// facade, then run the delegate's own implementation. Installed once, during configuration,
// unless the application's Info dictionary switches it off. Main thread.
class NEBMessagingAppDelegateProxy {
public:
    static constexpr const char* kHookOwner = "NEBMessagingAppDelegateProxy";

    static bool canSwizzleAppDelegate();
    static void swizzleOriginalAppDelegate();
    static bool isInstalled();
    // Whether socket messages handed to the remote-message delegate are recorded first (the
    // delegate answered that operation when the proxy was installed).
    static bool wrapsRemoteMessageDelegate();
};
