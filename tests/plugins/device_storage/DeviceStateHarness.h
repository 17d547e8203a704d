#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace devicestate {

// One result a plug-in sent.
struct SentResult {
    unsigned status = 0;
    ns::Value message;
    bool keepCallback = false;
    std::optional<std::string> callbackId;
};

// A command delegate that keeps every result it is given, for plug-ins tested on their own.
class RecordingDelegate : public ns::Object, public HYBCommandDelegate {
public:
    std::optional<std::string> pathForResource(std::string_view) override { return {}; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override { block(); }
    ns::Dictionary settings() const override { return settings_; }
    UrlTransformer urlTransformer() const override { return {}; }
    void setUrlTransformer(UrlTransformer) override {}

    void setSettings(ns::Dictionary settings) { settings_ = std::move(settings); }
    std::vector<SentResult> sent;

private:
    ns::Dictionary settings_;
};

// A page call of `action` with the arguments, answered to `callbackId`.
HYBInvokedUrlCommand pageCall(const std::string& action, ns::Array arguments = {},
                              const std::string& callbackId = "Plugin1");

// A test on the manual run loop with a sandbox of its own, where the user's locale, languages
// and time zone are what the test says (restored afterwards).
class UserSettingsTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override;
    void TearDown() override;

    // "de_AT", "Europe/Vienna", {"de"}: languages default to the locale's.
    static void useLocale(const std::string& locale, const std::string& timeZone,
                          const std::vector<std::string>& languages = {});

    // Makes the plug-in as the host does: engine-less, with the recording delegate, started.
    template <class Plugin>
    std::shared_ptr<Plugin> makePlugin() {
        auto plugin = std::make_shared<Plugin>();
        plugin->initWithWebViewEngine(nullptr);
        plugin->setCommandDelegate(delegate_);
        plugin->pluginInitialize();
        return plugin;
    }

    // The one result the call produced (a failed expectation when it sent none or several).
    template <class Plugin>
    SentResult call(Plugin& plugin, const std::string& action, ns::Array arguments = {}) {
        delegate_->sent.clear();
        EXPECT_TRUE(plugin.performAction(action, pageCall(action, std::move(arguments))));
        EXPECT_EQ(delegate_->sent.size(), 1u) << action;
        return delegate_->sent.empty() ? SentResult{} : delegate_->sent.back();
    }

    testsupport::TempDir dir_;
    std::shared_ptr<RecordingDelegate> delegate_;

private:
    std::u16string savedTimeZone_;
};

}  // namespace devicestate
