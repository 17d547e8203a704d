#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/ui/Application.h"

namespace uitest {

// A delegate that implements the operations it is given, records each call with the
// application's state at that moment, and answers what the test sets.
class RecordingDelegate : public ui::ApplicationDelegate {
public:
    explicit RecordingDelegate(std::set<ui::DelegateOp> ops = {}) : ops_(std::move(ops)) {}

    bool implements(ui::DelegateOp op) const override { return ops_.contains(op); }

    bool willFinishLaunchingWithOptions(ui::Application& app,
                                        const ns::Dictionary& options) override {
        record(app, "willFinishLaunching", options.size());
        return willFinishAnswer;
    }
    bool didFinishLaunchingWithOptions(ui::Application& app,
                                       const ns::Dictionary& options) override {
        record(app, "didFinishLaunching", options.size());
        return true;
    }
    void applicationDidBecomeActive(ui::Application& app) override {
        record(app, "didBecomeActive");
    }
    void applicationWillResignActive(ui::Application& app) override {
        record(app, "willResignActive");
    }
    void applicationDidEnterBackground(ui::Application& app) override {
        record(app, "didEnterBackground");
    }
    void applicationWillEnterForeground(ui::Application& app) override {
        record(app, "willEnterForeground");
    }
    void applicationWillTerminate(ui::Application& app) override { record(app, "willTerminate"); }
    void applicationDidReceiveMemoryWarning(ui::Application& app) override {
        record(app, "memoryWarning");
    }
    bool openURL(ui::Application& app, const std::optional<ns::URL>& url,
                 const ns::Dictionary&) override {
        calls.push_back("openURL " + (url ? url->absoluteString() : "(null)"));
        (void)app;
        return openURLAnswer;
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(ui::Application&,
                                                          const ns::Data& token) override {
        calls.push_back("token " + std::string(token.chars()));
    }
    void didReceiveRemoteNotificationWithFetchCompletionHandler(
        ui::Application&, const ns::Dictionary&,
        const ui::FetchCompletionHandler& handler) override {
        calls.push_back("remoteNotification");
        if (handler) handler(ui::BackgroundFetchResult::NewData);
    }

    std::vector<std::string> calls;
    bool willFinishAnswer = true;
    bool openURLAnswer = true;

private:
    void record(ui::Application& app, const std::string& name, size_t optionCount = 0) {
        static const char* states[] = {"active", "inactive", "background"};
        std::string entry = name + " (" + states[static_cast<int>(app.applicationState())] + ")";
        if (optionCount) entry += " options " + std::to_string(optionCount);
        calls.push_back(entry);
    }

    std::set<ui::DelegateOp> ops_;
};

}  // namespace uitest
