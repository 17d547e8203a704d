#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/HYBPlugin.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

class HYBInvokedUrlCommand;
class NCMPushPage;
class NEBMessaging;

// The push service the page sees: five page actions (ready, token, topics, delivery of the
// held notification) and two calls pushed into the page, received notifications and refreshed
// tokens. The instance that ran the page's last `ready` is the one every push reaches, through
// the push road's page end (NCMPushPage). Main thread, except the background blocks of the
// actions.
class NCMPlugin : public HYBPlugin {
public:
    static constexpr const char* kNotificationCallback = "NCMPlugin.onNotificationReceived";
    static constexpr const char* kTokenRefreshCallback = "NCMPlugin.onTokenRefreshReceived";
    // Instance identity's default token, when it has one (any thread).
    using TokenSource = std::function<std::optional<std::string>()>;

    // On the page end of the push road (held weakly: it outlives the plug-in), the messaging
    // library whose topics the page's actions change, and the default token.
    NCMPlugin(std::weak_ptr<NCMPushPage> page, std::shared_ptr<NEBMessaging> messaging,
              TokenSource token);

    void ready(const HYBInvokedUrlCommand& command);
    void getToken(const HYBInvokedUrlCommand& command);
    void subscribeToTopic(const HYBInvokedUrlCommand& command);
    void unsubscribeFromTopic(const HYBInvokedUrlCommand& command);
    void registerNotification(const HYBInvokedUrlCommand& command);

    // The page's answer to a message sent to it: whether its NCMPlugin.onNotificationReceived
    // ran with it (also when it raised), or the page has no such function (yet), or there is
    // no page, or the script did not run.
    enum class PageAnswer { Delivered, NotListening };
    using DeliveryHandler = std::function<void(PageAnswer)>;

    // `json` is the message as JSON text (messageJSON). A null handler hears nothing back.
    void notifyOfMessage(std::string json, DeliveryHandler handler = {});
    void notifyOfTokenRefresh(const std::optional<std::string>& token);
    void appEnterForeground();
    void appEnterBackground();

    // The message as compact JSON that is also a JavaScript expression, with its id under
    // kMessageIDKey when `messageID` is not empty. What JSON cannot hold is not lost silently
    // nor fatal: bytes become Base64 text; dates and non-finite numbers are left out.
    static constexpr const char* kMessageIDKey = "msg.message_id";
    static std::string messageJSON(const ns::Dictionary& userInfo, std::string_view messageID = {});
    // What the page evaluates for a message: its callback called with the message parsed from
    // its JSON text (so that every key, "__proto__" too, arrives as a key), when the page has
    // the callback; the answer is whether it had. What the callback raises is raised again
    // outside it. The engine hands the text over as a value (WebViewEngine's
    // callAsyncJavaScript), which the script stands for.
    static std::string messageScript(const std::string& json);
    static std::string tokenRefreshScript(const std::optional<std::string>& token);

private:
    void updateTopic(const HYBInvokedUrlCommand& command, bool subscribe);
    void evaluate(std::string script);
    static void logEvaluation(std::string_view script, std::string_view argument = {});

    const std::weak_ptr<NCMPushPage> page_;
    const std::shared_ptr<NEBMessaging> messaging_;
    const TokenSource token_;
};
