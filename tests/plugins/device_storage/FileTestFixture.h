#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/ns/Value.h"
#include "plugins/device_storage/HYBFile.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace filetest {

// A command delegate that keeps every result it is sent, runs background work on the global
// queue (the run loop waits for it when run to idle) and hands out the settings it is given.
class RecordingDelegate : public HYBCommandDelegate {
public:
    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override;
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override;
    void setUrlTransformer(UrlTransformer transformer) override;

    std::vector<std::pair<std::string, std::shared_ptr<HYBPluginResult>>> results() const;
    // While held, background work waits here instead of starting.
    void holdBackground() { hold_ = true; }
    void releaseBackground();

private:
    bool hold_ = false;
    std::vector<std::function<void()>> held_;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::shared_ptr<HYBPluginResult>>> results_;
    UrlTransformer transformer_;
};

// The file plug-in on a sandbox and a bundle in a temporary folder, with a manual clock.
class FileFixture : public testsupport::ManualRunLoop {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes and initialises the plug-in; the settings are config.xml preferences (lower-cased
    // keys).
    void start(ns::Dictionary settings = {});
    HYBFile& plugin() { return *plugin_; }

    // Runs a page action to the end and answers its one result (null when none came).
    std::shared_ptr<HYBPluginResult> call(const std::string& action, ns::Array arguments);
    // Every result sent so far.
    size_t resultCount() const { return delegate_->results().size(); }

    std::string bundlePath() const { return (dir_ / "App").string(); }
    std::string documents() const;
    std::string temporary() const;
    static void writeFile(const std::string& path, std::string_view contents);
    static std::string readFile(const std::string& path);
    static bool exists(const std::string& path);

    // "hybfile://localhost/<fs><path>".
    static std::string url(const std::string& fs, const std::string& path) {
        return "hybfile://localhost/" + fs + path;
    }

    testsupport::TempDir dir_;
    std::shared_ptr<HYBViewController> controller_;
    std::shared_ptr<RecordingDelegate> delegate_;
    std::shared_ptr<HYBFile> plugin_;

private:
    int nextCallback_ = 0;
};

// Assertion helpers: the status and message of a result.
::testing::AssertionResult isIOError(const std::shared_ptr<HYBPluginResult>& result, int code);
::testing::AssertionResult isError(const std::shared_ptr<HYBPluginResult>& result, int code);
::testing::AssertionResult isOK(const std::shared_ptr<HYBPluginResult>& result);

}  // namespace filetest
