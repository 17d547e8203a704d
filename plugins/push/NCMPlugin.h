#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/Value.h"

class HYBInvokedUrlCommand;

// The push service the page sees: five page actions (ready, token, topics, delivery of the
// held notification) and two calls pushed into the page, received notifications and refreshed
// tokens. The instance that ran the page's first `ready` is the one every push reaches.
// Main thread, except the background blocks of the actions.
class NCMPlugin : public HYBPlugin {
public:
    static constexpr const char* kNotificationCallback = "NCMPlugin.onNotificationReceived";
    static constexpr const char* kTokenRefreshCallback = "NCMPlugin.onTokenRefreshReceived";

    NCMPlugin();

    static std::shared_ptr<NCMPlugin> ncmPlugin();

    void ready(const HYBInvokedUrlCommand& command);
    void getToken(const HYBInvokedUrlCommand& command);
    void subscribeToTopic(const HYBInvokedUrlCommand& command);
    void unsubscribeFromTopic(const HYBInvokedUrlCommand& command);
    void registerNotification(const HYBInvokedUrlCommand& command);

    // `json` is the message as JSON text (messageJSON).
    void notifyOfMessage(const std::string& json);
    void notifyOfTokenRefresh(const std::optional<std::string>& token);
    void appEnterForeground();
    void appEnterBackground();

    // The one held notification (the most recently opened), taken once.
    static void holdPush(std::string json);
    static std::optional<std::string> getLastPush();

    // The message as compact JSON that is also a JavaScript expression. What JSON cannot hold
    // is not lost silently nor fatal: bytes become Base64 text; dates and non-finite numbers
    // are left out.
    static std::string messageJSON(const ns::Dictionary& userInfo);
    static std::string messageScript(const std::string& json);
    static std::string tokenRefreshScript(const std::optional<std::string>& token);

private:
    void updateTopic(const HYBInvokedUrlCommand& command, bool subscribe);
    void evaluate(std::string script);
};
