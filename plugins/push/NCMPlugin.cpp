#include "plugins/push/NCMPlugin.h"

#include <algorithm>
#include <cmath>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/NSString+HYBJavaScriptLiteral.h"
#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/wk/Engine.h"
#include "plugins/push/NCMPushPage.h"
#include "sdk/messaging/NEBMessaging.h"

namespace {

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

NCMPlugin::NCMPlugin(std::weak_ptr<NCMPushPage> page, std::shared_ptr<NEBMessaging> messaging,
                     TokenSource token)
    : page_(std::move(page)), messaging_(std::move(messaging)), token_(std::move(token)) {
    registerAction("ready", &NCMPlugin::ready);
    registerAction("getToken", &NCMPlugin::getToken);
    registerAction("subscribeToTopic", &NCMPlugin::subscribeToTopic);
    registerAction("unsubscribeFromTopic", &NCMPlugin::unsubscribeFromTopic);
    registerAction("registerNotification", &NCMPlugin::registerNotification);
}

void NCMPlugin::ready(const HYBInvokedUrlCommand& command) {
    ns::nslog("Hybrid view ready");
    if (auto page = page_.lock())
        page->setReadyPlugin(std::static_pointer_cast<NCMPlugin>(shared_from_this()));
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto callbackId = command.callbackId();
    delegate->runInBackground([delegate, callbackId] { sendOK(delegate, callbackId); });
}

void NCMPlugin::getToken(const HYBInvokedUrlCommand& command) {
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto callbackId = command.callbackId();
    delegate->runInBackground([delegate, callbackId, token = token_] {
        ns::nslog("get Token");
        sendOK(delegate, callbackId, token ? token() : std::nullopt);
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
    delegate->runInBackground([delegate, callbackId, topic, subscribe, messaging = messaging_] {
        // The library takes the request to the main thread itself.
        if (topic && messaging) {
            std::string name = ns::format("/topics/%@", *topic);
            if (subscribe) {
                messaging->subscribeToTopic(name);
            } else {
                messaging->unsubscribeFromTopic(name);
            }
        }
        sendOK(delegate, callbackId, topic);
    });
}

// The page that asks is the page that gets it, even before its `ready`: the held
// notification is taken here, so it must not go to a shared instance that may not exist yet.
void NCMPlugin::registerNotification(const HYBInvokedUrlCommand& command) {
    ns::nslog("view registered for notifications");
    if (auto page = page_.lock()) {
        if (auto held = page->getLastPush()) notifyOfMessage(std::move(*held));
        // A page that was not listening yet when its ready came is now.
        page->sendWaitingMessages();
    }
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

std::string NCMPlugin::messageJSON(const ns::Dictionary& userInfo, std::string_view messageID) {
    if (!std::any_of(userInfo.begin(), userInfo.end(),
                     [](const auto& member) { return holdsNonJSON(member.second); })) {
        // Written member by member, the id in its place among them: no copy of the message.
        ns::JSONWriter writer;
        writer.startObject();
        bool idWritten = messageID.empty();
        for (const auto& [key, value] : userInfo) {
            if (!idWritten && key >= kMessageIDKey) {
                writer.key(kMessageIDKey);
                writer.string(messageID);
                idWritten = true;
                if (key == kMessageIDKey) continue;
            }
            writer.key(key);
            writer.value(value);
        }
        if (!idWritten) {
            writer.key(kMessageIDKey);
            writer.string(messageID);
        }
        writer.endObject();
        auto written = writer.take();
        if (written.ok()) return written.value();
    }
    ns::Dictionary copy = userInfo;
    if (!messageID.empty()) copy.insert_or_assign(kMessageIDKey, ns::Value(messageID));
    auto safe = jsonSafe(ns::Value(std::move(copy)));
    auto written = ns::JSONSerialization::write(safe.value_or(ns::Value(ns::Dictionary{})));
    return written.ok() ? written.value() : "{}";
}

namespace {

// The call of the page's callback, as the body of a function of the message's JSON text, which
// reaches the page as a value: nothing to escape however large it is. The page parses it, as an
// object literal would take a "__proto__" key for the prototype. What the callback raises is
// raised again on its own, so that the answer only says whether the page had the message, and
// the page still sees its error.
constexpr const char* kMessageArgument = "message";
constexpr const char* kMessageBody =
    "if(typeof NCMPlugin==='undefined'||NCMPlugin==null||"
    "typeof NCMPlugin.onNotificationReceived!=='function')return false;"
    "try{NCMPlugin.onNotificationReceived(JSON.parse(message))}"
    "catch(e){setTimeout(function(){throw e})}return true";

}  // namespace

std::string NCMPlugin::messageScript(const std::string& json) {
    return wk::Engine::functionCallScript(kMessageBody, {{kMessageArgument, ns::Value(json)}});
}

std::string NCMPlugin::tokenRefreshScript(const std::optional<std::string>& token) {
    return std::string(kTokenRefreshCallback) + "(" +
           (token ? hyb_JavaScriptStringLiteral(*token) : std::string("null")) + ");";
}

void NCMPlugin::notifyOfMessage(std::string json, DeliveryHandler handler) {
    auto engine = webViewEngine();
    if (!engine) {
        if (handler) handler(PageAnswer::NotListening);
        return;
    }
    // The page's callback with the message, as a script would read; the message itself goes
    // over as a value.
    logEvaluation(kNotificationCallback, json);
    ns::Dictionary arguments{{kMessageArgument, ns::Value(std::move(json))}};
    if (!handler) {
        engine->callAsyncJavaScript(kMessageBody, std::move(arguments), nullptr);
        return;
    }
    engine->callAsyncJavaScript(
        kMessageBody, std::move(arguments),
        [handler = std::move(handler)](ns::Result<ns::Value> result) {
            // The script raises nothing of the page's: an error is the evaluation failing (the
            // page's process gone, say), and the page may never have run it.
            if (!result.ok()) {
                ns::nslog("A message did not reach the page: %@", result.error().description());
                handler(PageAnswer::NotListening);
                return;
            }
            const bool listening = !result.value().isBool() || result.value().boolValue();
            handler(listening ? PageAnswer::Delivered : PageAnswer::NotListening);
        });
}

void NCMPlugin::notifyOfTokenRefresh(const std::optional<std::string>& token) {
    evaluate(tokenRefreshScript(token));
}

void NCMPlugin::evaluate(std::string script) {
    logEvaluation(script);
    if (auto engine = webViewEngine()) engine->evaluateJavaScript(std::move(script), nullptr);
}

void NCMPlugin::logEvaluation(std::string_view script, std::string_view argument) {
    // As nslog("stringByEvaluatingJavaScriptFromString %@", script) writes it, without
    // formatting a message that can be large on every push; with an argument, the script is
    // the function that is called with it.
    constexpr std::string_view kPrefix = "stringByEvaluatingJavaScriptFromString ";
    std::string line;
    line.reserve(kPrefix.size() + script.size() + argument.size() + 3);
    line.append(kPrefix).append(script);
    if (!argument.empty()) line.append("(").append(argument).append(");");
    ns::Log::write(ns::LogLevel::Default, line);
}

void NCMPlugin::appEnterForeground() {
    ns::nslog("Set state foreground");
    auto page = page_.lock();
    if (auto held = page ? page->getLastPush() : std::nullopt) notifyOfMessage(std::move(*held));
}

void NCMPlugin::appEnterBackground() {
    ns::nslog("Set state background");
}
