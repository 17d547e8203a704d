#include "plugins/push/NCMPlugin.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/NSString+HYBJavaScriptLiteral.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessaging.h"

namespace {

// Both slots are read and written on the main thread; the lock keeps a stray caller safe.
std::mutex slotsMutex;
std::shared_ptr<NCMPlugin> sharedInstance;
std::optional<std::string> heldPush;

std::optional<ns::Value> jsonSafe(const ns::Value& value) {
    if (const ns::Data* bytes = value.data()) return ns::Value(bytes->base64EncodedString());
    if (value.isDate()) return std::nullopt;
    if (value.isDouble() && !std::isfinite(*value.number())) return std::nullopt;
    if (const ns::Array* items = value.array()) {
        ns::Array kept;
        for (const auto& item : *items) {
            if (auto safe = jsonSafe(item)) kept.push_back(std::move(*safe));
        }
        return ns::Value(std::move(kept));
    }
    if (const ns::Dictionary* members = value.dictionary()) {
        ns::Dictionary kept;
        for (const auto& [key, member] : *members) {
            if (auto safe = jsonSafe(member)) kept.insert_or_assign(key, std::move(*safe));
        }
        return ns::Value(std::move(kept));
    }
    return value;
}

void sendOK(const std::shared_ptr<HYBCommandDelegate>& delegate,
            const std::optional<std::string>& callbackId,
            const std::optional<std::string>& message = std::nullopt) {
    if (!delegate) return;
    auto result =
        message ? HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, *message)
                : HYBPluginResult::resultWithStatus(HYBResultStatusOK);
    delegate->sendPluginResult(result, callbackId);
}

}  // namespace

NCMPlugin::NCMPlugin() {
    registerAction("ready", &NCMPlugin::ready);
    registerAction("getToken", &NCMPlugin::getToken);
    registerAction("subscribeToTopic", &NCMPlugin::subscribeToTopic);
    registerAction("unsubscribeFromTopic", &NCMPlugin::unsubscribeFromTopic);
    registerAction("registerNotification", &NCMPlugin::registerNotification);
}

std::shared_ptr<NCMPlugin> NCMPlugin::ncmPlugin() {
    std::lock_guard lock(slotsMutex);
    return sharedInstance;
}

void NCMPlugin::holdPush(std::string json) {
    std::lock_guard lock(slotsMutex);
    heldPush = std::move(json);
}

std::optional<std::string> NCMPlugin::getLastPush() {
    std::lock_guard lock(slotsMutex);
    return std::exchange(heldPush, std::nullopt);
}

void NCMPlugin::ready(const HYBInvokedUrlCommand& command) {
    ns::nslog("Hybrid view ready");
    {
        std::lock_guard lock(slotsMutex);
        sharedInstance = std::static_pointer_cast<NCMPlugin>(shared_from_this());
    }
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto callbackId = command.callbackId();
    delegate->runInBackground([delegate, callbackId] { sendOK(delegate, callbackId); });
}

void NCMPlugin::getToken(const HYBInvokedUrlCommand& command) {
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto callbackId = command.callbackId();
    delegate->runInBackground([delegate, callbackId] {
        ns::nslog("get Token");
        sendOK(delegate, callbackId, NEBInstanceID::instanceID()->token());
    });
}

void NCMPlugin::subscribeToTopic(const HYBInvokedUrlCommand& command) {
    updateTopic(command, true);
}

void NCMPlugin::unsubscribeFromTopic(const HYBInvokedUrlCommand& command) {
    updateTopic(command, false);
}

// Without a topic name (or with one that is not text) nothing is subscribed and the page
// still hears OK, without a message: the outcome of a subscription never reaches the page.
void NCMPlugin::updateTopic(const HYBInvokedUrlCommand& command, bool subscribe) {
    ns::Value argument = command.argumentAtIndex(0);
    std::optional<std::string> topic;
    if (const std::string* text = argument.string()) topic = *text;
    ns::nslog(subscribe ? "subscribe To Topic %@" : "unsubscribe From Topic %@",
              topic ? ns::Value(*topic) : ns::Value());
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto callbackId = command.callbackId();
    delegate->runInBackground([delegate, callbackId, topic, subscribe] {
        if (topic) {
            // The messaging library starts on the main thread (its first use builds it), so
            // the request is handed there rather than touching it from this queue.
            std::string name = ns::format("/topics/%@", *topic);
            dispatch::Queue::main().async([name, subscribe] {
                if (subscribe) {
                    NEBMessaging::messaging()->subscribeToTopic(name);
                } else {
                    NEBMessaging::messaging()->unsubscribeFromTopic(name);
                }
            });
        }
        sendOK(delegate, callbackId, topic);
    });
}

// The page that asks is the page that gets it, even before its `ready`: the held
// notification is taken here, so it must not go to a shared instance that may not exist yet.
void NCMPlugin::registerNotification(const HYBInvokedUrlCommand& command) {
    ns::nslog("view registered for notifications");
    if (auto held = getLastPush()) notifyOfMessage(*held);
    sendOK(commandDelegate(), command.callbackId());
}

// Whether anything in the value has no JSON form; most messages hold text only, and need no
// cleaned copy.
static bool holdsNonJSON(const ns::Value& value) {
    if (value.isData() || value.isDate()) return true;
    if (value.isDouble()) return !std::isfinite(*value.number());
    if (const ns::Array* items = value.array()) {
        return std::any_of(items->begin(), items->end(), holdsNonJSON);
    }
    if (const ns::Dictionary* members = value.dictionary()) {
        return std::any_of(members->begin(), members->end(),
                           [](const auto& member) { return holdsNonJSON(member.second); });
    }
    return false;
}

std::string NCMPlugin::messageJSON(const ns::Dictionary& userInfo) {
    if (!std::any_of(userInfo.begin(), userInfo.end(),
                     [](const auto& member) { return holdsNonJSON(member.second); })) {
        auto written = ns::JSONSerialization::write(ns::Value(userInfo));
        if (written.ok()) return written.value();
    }
    auto safe = jsonSafe(ns::Value(userInfo));
    auto written = ns::JSONSerialization::write(safe.value_or(ns::Value(ns::Dictionary{})));
    return written.ok() ? written.value() : "{}";
}

std::string NCMPlugin::messageScript(const std::string& json) {
    return std::string(kNotificationCallback) + "(" + json + ");";
}

std::string NCMPlugin::tokenRefreshScript(const std::optional<std::string>& token) {
    return std::string(kTokenRefreshCallback) + "(" +
           (token ? hyb_JavaScriptStringLiteral(*token) : std::string("null")) + ");";
}

void NCMPlugin::notifyOfMessage(const std::string& json) {
    evaluate(messageScript(json));
}

void NCMPlugin::notifyOfTokenRefresh(const std::optional<std::string>& token) {
    evaluate(tokenRefreshScript(token));
}

void NCMPlugin::evaluate(std::string script) {
    // As nslog("stringByEvaluatingJavaScriptFromString %@", script) writes it, without
    // formatting a message that can be large on every push.
    ns::Log::write(ns::LogLevel::Default, "stringByEvaluatingJavaScriptFromString " + script);
    if (auto engine = webViewEngine()) engine->evaluateJavaScript(std::move(script), nullptr);
}

void NCMPlugin::appEnterForeground() {
    ns::nslog("Set state foreground");
    if (auto held = getLastPush()) notifyOfMessage(*held);
}

void NCMPlugin::appEnterBackground() {
    ns::nslog("Set state background");
}
