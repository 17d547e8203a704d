#pragma once

inline constexpr const char* kNEBInstanceIDAppDelegateProxyEnabledKey =
    "NebulaAppDelegateProxyEnabled";

// Hands the push-service device token (or the failure to get one) that the platform gives the
// application delegate to instance identity first, then to what the delegate had, so that the
// app need not pass it on. Can be switched off in the Info.plist.
class NEBInstanceIDAppDelegateProxy {
public:
    // The Info.plist value when it is a boolean or a number; true otherwise.
    static bool canSwizzleAppDelegate();
    // Installs the interception once per process, on the shared application.
    static void swizzleOriginalAppDelegate();
};
