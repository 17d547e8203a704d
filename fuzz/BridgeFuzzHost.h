// A root view controller with one echo plug-in and an engine that records the scripts sent to
// the page, for the bridge's fuzz targets. Header-only: each target is its own program.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBCommandDelegateImpl.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

namespace fuzzhost {

inline void require(bool condition) {
    if (!condition) std::abort();
}

class EchoPlugin : public HYBPlugin {
public:
    EchoPlugin() {
        registerAction("echo", &EchoPlugin::echo);
        registerAction("bytes", &EchoPlugin::bytes);
        registerAction("multi", &EchoPlugin::multi);
    }
    void echo(const HYBInvokedUrlCommand& command) {
        send(std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
             command);
    }
    void bytes(const HYBInvokedUrlCommand& command) {
        const ns::Value data = command.argumentAtIndex(0, ns::Data(), &ns::Value::isData);
        send(HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, *data.data()),
             command);
    }
    void multi(const HYBInvokedUrlCommand& command) {
        auto result = HYBPluginResult::resultWithStatusMessageAsMultipart(HYBResultStatusError,
                                                                          command.arguments());
        result->setKeepCallbackAsBool(true);
        send(result, command);
    }

private:
    void send(const std::shared_ptr<HYBPluginResult>& result, const HYBInvokedUrlCommand& command) {
        if (auto delegate = commandDelegate())
            delegate->sendPluginResult(result, command.callbackId());
    }
};

class RecordingEngine : public HYBPlugin, public HYBWebViewEngineProtocol {
public:
    void loadRequest(const wk::URLRequest&) override {}
    void loadHTMLString(const std::string&, const std::optional<ns::URL>&) override {}
    void evaluateJavaScript(std::string script, EvaluationHandler) override {
        scripts.push_back(std::move(script));
    }
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler) override {
        calls.emplace_back(std::move(body), std::move(arguments));
    }
    std::optional<ns::URL> URL() const override { return std::nullopt; }
    bool canLoadRequest(const wk::URLRequest&) override { return true; }
    void initWithFrame(const ui::Rect&) override {}
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return nullptr; }

    std::vector<std::string> scripts;
    std::vector<std::pair<std::string, ns::Dictionary>> calls;
};

struct Host {
    Host() {
        ns::Log::setStandardErrorEnabled(false);
        controller = HYBViewController::create();
        engine = std::make_shared<RecordingEngine>();
        controller->setWebViewEngine(engine);
        auto echo = std::make_shared<EchoPlugin>();
        echo->initWithWebViewEngine(engine);
        controller->registerPluginWithPluginName(echo, "Echo");
    }

    // Every script sent to the page is a callback whose message is one JSON value: nothing the
    // page sent can end the literal early.
    void checkScripts() {
        constexpr std::string_view head = "hybrid.require('hybrid/exec').nativeCallback('";
        for (const std::string& script : engine->scripts) {
            require(script.compare(0, head.size(), head) == 0);
            const size_t idEnd = script.find('\'', head.size());
            require(idEnd != std::string::npos);
            const std::string id = script.substr(head.size(), idEnd - head.size());
            require(HYBCommandDelegateImpl::isValidCallbackId(id));
            const size_t jsonStart = script.find(',', idEnd + 2) + 1;
            const size_t jsonEnd = script.rfind(',', script.rfind(',') - 1);
            require(jsonStart > 0 && jsonEnd != std::string::npos && jsonEnd >= jsonStart);
            auto json = ns::JSONSerialization::read(
                std::string_view(script).substr(jsonStart, jsonEnd - jsonStart),
                {.fragmentsAllowed = true});
            require(json.ok());
        }
        engine->scripts.clear();
        // A large answer is handed over as a value: a valid id, and JSON text where the page
        // parses it.
        for (const auto& [body, arguments] : engine->calls) {
            const ns::Value* id = arguments.find("callbackId") == arguments.end()
                                      ? nullptr
                                      : &arguments.at("callbackId");
            require(id && id->string() && HYBCommandDelegateImpl::isValidCallbackId(*id->string()));
            // An answer carries its message, a piece of a large one its rows' text; the call
            // that has the page drop the pieces it keeps carries neither.
            const auto message = arguments.find("message");
            const auto piece = arguments.find("piece");
            if (message == arguments.end() && piece == arguments.end()) continue;
            require(message == arguments.end() || piece == arguments.end());
            const ns::Value& text = message != arguments.end() ? message->second : piece->second;
            require(text.isString());
            if (body.find("JSON.parse(message)") != std::string::npos) {
                require(
                    message != arguments.end() &&
                    ns::JSONSerialization::read(*text.string(), {.fragmentsAllowed = true}).ok());
            }
        }
        engine->calls.clear();
    }

    std::shared_ptr<HYBViewController> controller;
    std::shared_ptr<RecordingEngine> engine;
};

inline Host& host() {
    static Host* instance = new Host();
    return *instance;
}

}  // namespace fuzzhost
