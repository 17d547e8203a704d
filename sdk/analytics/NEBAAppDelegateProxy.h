#pragma once

#include <functional>
#include <memory>

#include "platform/ns/URL.h"
#include "platform/ui/ApplicationDelegate.h"

// Tells analytics (the handler it is given) of the URLs that open the application, the web links of
// continued user activities and the background transfer sessions it is woken for, without the
// application calling it: hooks on the application's delegate callbacks run first and then hand the
// call to the delegate's own implementation, whose answer they return. Where the delegate lacks the
// older open-URL form, user-activity continuation or background-session events, the hook
// answers as a default implementation would (YES; the completion is not called) and says once
// that the delegate should handle them. The Info.plist switch "NebulaAppDelegateProxyEnabled"
// turns it off.
class NEBAAppDelegateProxy {
public:
    static constexpr const char* kHookOwner = "NEBAAppDelegateProxy";
    using OpenedURLHandler = std::function<void(const ns::URL&)>;

    static bool isAppDelegateProxyEnabled();
    // When the program loads the class: the system-log warning of a disabled proxy.
    static void load();
    // Installs the hooks on the shared application's delegate, which hand opened URLs and
    // continued web links to the handler; logged and left alone when disabled or without a
    // delegate. Once per application.
    static void proxyOriginalDelegate(const std::shared_ptr<ui::ApplicationDelegate>& delegate,
                                      OpenedURLHandler openedURL);
};
