#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/HYBPlugin.h"
#include "platform/dispatch/Mutex.h"

class HYBReachability;

// Tells the page what kind of network connection the device has: "none", "wifi", "2g", "3g",
// "4g", "cellular" or "unknown". The page asks once with getConnectionInfo; the answer keeps
// its callback, and every later change of the type arrives on it. Changes are watched while
// the application is in the foreground. Main thread, but for the type's accessors.
class HYBConnection : public HYBPlugin {
public:
    HYBConnection();
    ~HYBConnection() override;

    void pluginInitialize() override;

    // --- Page action ----------------------------------------------------------------------
    // Keeps the command's callback id for the pushes, replacing any earlier one, and sends
    // the current type.
    void getConnectionInfo(const HYBInvokedUrlCommand& command);

    // Sends the current type to the kept callback, with keep-callback set.
    void sendPluginResult();
    std::string w3cConnectionTypeFor(const std::shared_ptr<HYBReachability>& reachability) const;
    static bool isCellularConnection(std::string_view type);
    // Re-evaluates the type and sends it when it changed; without a reachability object,
    // sends the current type.
    void updateReachability(const std::shared_ptr<HYBReachability>& reachability);
    // Re-evaluates for a notification whose object is a HYBReachability; ignores any other.
    void updateConnectionType(const ns::Notification& notification);
    void onPause();
    void onResume();

    std::string connectionType() const;
    void setConnectionType(std::string type);
    std::shared_ptr<HYBReachability> internetReach() const;

private:
    void observe(const char* name,
                 std::function<void(HYBConnection&, const ns::Notification&)> handler);

    mutable dispatch::Mutex mutex_;
    std::string connectionType_ GUARDED_BY(mutex_) = "none";
    std::shared_ptr<HYBReachability> internetReach_ GUARDED_BY(mutex_);
    std::optional<std::string> callbackId_ GUARDED_BY(mutex_);
};
