#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/TLSSettings.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sec/Keychain.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDMessagingFacts.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"
#include "services/peers/CheckinPeer.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/RegistrationPeer.h"
#include "services/peers/TestCA.h"
#include "tests/peers/LoopPump.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace iidtest {

inline constexpr const char* kBundleID = "com.example.greenhouse";

// Stands in for messaging until it exists: the two facts instance identity asks of it.
class FakeMessaging : public ns::Object, public NEBInstanceIDMessagingFacts {
public:
    std::optional<std::string> NEBMessagingSDKVersion() const override { return "ncm-1.2.0"; }
    std::optional<std::string> NEBMessagingSDKCurrentLocale() const override { return "fr_FR"; }
};

// Every line instance identity logs, whatever the level filter lets through.
class LineRecorder : public NEBInstanceIDLogWriter {
public:
    void logMessage(std::string_view line, NEBInstanceIDLogLevel) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(std::string_view text) const {
        for (const auto& line : lines()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A fresh sandbox, keychain and application bundle per test, on the main run loop with a
// manual clock, with loopback check-in and registration services.
class InstanceIDTest : public testsupport::ManualRunLoop {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }

    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
        std::filesystem::create_directories(bundlePath());
        writeInfo({{"CFBundleIdentifier", kBundleID}, {"CFBundleShortVersionString", "1.0"}});
        ns::UserDefaults::resetStandardUserDefaults();
        net::TLSSettings::setExtraCAFile(ca_->caFile());
        server_ = std::make_unique<peers::HttpsServer>(*ca_);
        checkin_ = std::make_unique<peers::CheckinPeer>(*server_);
        registration_ = std::make_unique<peers::RegistrationPeer>(*server_);
        NEBServiceHosts::setCheckinServerURL(server_->baseURL());
        NEBServiceHosts::setRegistrationServerURL(server_->baseURL());
        recorder_ = std::make_shared<LineRecorder>();
        previousWriter_ = NEBInstanceIDSharedLogger().writer();
        previousFilter_ = NEBInstanceIDSharedLogger().filter();
        NEBInstanceIDSharedLogger().setWriter(recorder_);
        NEBInstanceIDSharedLogger().setFilter(nullptr);
    }

    void TearDown() override {
        server_->stop();
        loop().runUntilIdle();
        NEBInstanceIDSharedLogger().setWriter(previousWriter_);
        NEBInstanceIDSharedLogger().setFilter(previousFilter_);
        net::TLSSettings::setExtraCAFile("");
        ns::UserDefaults::resetStandardUserDefaults();
        sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
        ManualRunLoop::TearDown();
    }

    static void registerMessaging() {
        rt::ClassRegistry::shared().registerClass(
            kNEBMessagingClassName, std::nullopt, [] { return std::make_shared<FakeMessaging>(); },
            {kNEBMessagingSDKVersionOperation, kNEBMessagingSDKCurrentLocaleOperation});
    }

    std::string bundlePath() const { return dir_.str() + "/Greenhouse.app"; }

    // The device facts and the classes a test registers go with it.
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;
    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;

    void writeInfo(const ns::Dictionary& info) {
        auto written = ns::PropertyListSerialization::writeFileAtomically(
            bundlePath() + "/Info.plist", ns::Value(info),
            ns::PropertyListSerialization::Format::XML);
        ASSERT_TRUE(written.ok());
        ns::Bundle::setMainBundlePath(bundlePath());
    }

    // Drives the loop (and the loopback peers) until `done`; never advances the manual clock.
    static bool waitUntil(const std::function<bool()>& done) {
        return peers::runMainLoopUntil(done);
    }

    static void advance(double seconds) { loop().advanceBy(dispatch::seconds(seconds)); }

    static peers::TestCA* ca_;
    testsupport::TempDir dir_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::unique_ptr<peers::CheckinPeer> checkin_;
    std::unique_ptr<peers::RegistrationPeer> registration_;
    std::shared_ptr<LineRecorder> recorder_;
    // The process's keychain (moved to the test's sandbox), the standard limits and rules.
    std::shared_ptr<const NEBServices> services_ = NEBServices::standard();
    std::shared_ptr<NEBInstanceIDLogWriter> previousWriter_;
    std::shared_ptr<NEBInstanceIDLogFilter> previousFilter_;
};

inline peers::TestCA* InstanceIDTest::ca_ = nullptr;

}  // namespace iidtest
