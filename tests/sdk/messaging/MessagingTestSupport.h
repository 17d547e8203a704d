#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/TLSSettings.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingCheckinPreferences.h"
#include "sdk/messaging/NEBMessagingDelegate.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"
#include "sdk/messaging/NEBMessagingServiceHosts.h"
#include "services/peers/TestCA.h"
#include "services/peers/messaging/MessagingServer.h"
#include "tests/peers/LoopPump.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"
#include "toolbox/Net/NIPReachability.h"

namespace messagingtest {

// A data message from the server as a topic sends it: acknowledged at once, its text under
// the key "text".
inline mcs::McsDataMessageStanza topicMessage(const std::string& persistentId,
                                              const std::string& text,
                                              const std::string& category = "org.example.app") {
    mcs::McsDataMessageStanza stanza;
    stanza.set_from("/topics/news");
    stanza.set_category(category);
    stanza.set_persistent_id(persistentId);
    stanza.set_immediate_ack(true);
    auto* pair = stanza.add_app_data();
    pair->set_key("text");
    pair->set_value(text);
    return stanza;
}

// A started facade on the SDK's standard services.
inline std::shared_ptr<NEBMessaging> startedMessaging(
    NEBMessagingCheckinService::CachedCheckinPreferences credentials,
    NEBMessaging::ReachabilityFactory reachability = {}) {
    auto messaging = std::make_shared<NEBMessaging>(NEBServices::standard(), std::move(credentials),
                                                    std::move(reachability));
    messaging->start();
    return messaging;
}

// Points the SDK's messaging socket at a loopback server for its lifetime.
class ScopedMessagingServerAddress {
public:
    explicit ScopedMessagingServerAddress(uint16_t port) {
        const std::string address = "127.0.0.1:" + std::to_string(port);
        ::setenv(NEBServiceHosts::kMessagingServerVariable, address.c_str(), 1);
    }
    ~ScopedMessagingServerAddress() { ::unsetenv(NEBServiceHosts::kMessagingServerVariable); }
    ScopedMessagingServerAddress(const ScopedMessagingServerAddress&) = delete;
    ScopedMessagingServerAddress& operator=(const ScopedMessagingServerAddress&) = delete;
};

// Collects what the messaging logger writes.
class RecordingLogWriter : public NEBMessagingLogWriter {
public:
    void logMessage(std::string_view message, NEBMessagingLogLevel) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message);
    }
    size_t count(std::string_view text) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& line : lines_) n += line.find(text) != std::string::npos;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The application's remote-message delegate, keeping what it receives.
class RecordingDelegate : public NEBMessagingDelegate {
public:
    bool respondsToApplicationReceivedRemoteMessage() const override { return true; }
    void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) override {
        received.push_back(message.appData);
    }
    std::vector<ns::Dictionary> received;
};

// Messaging on the main run loop with a manual clock, in a fresh sandbox, with the logger's
// lines recorded and the suite's test authority trusted.
class MessagingTest : public testsupport::ManualRunLoop {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        std::filesystem::create_directories(ns::Sandbox::applicationSupportDirectory() +
                                            "/Nebula/NebulaMessaging");
        net::TLSSettings::setExtraCAFile(ca_->caFile());
        previousWriter_ = NEBMessagingSharedLogger().writer();
        NEBMessagingSharedLogger().setWriter(log_);
        // A started facade narrows the shared logger; every test hears every level.
        NEBMessagingSharedLogger().setFilter(std::make_shared<NEBMessagingLogLevelFilter>(0));
    }
    void TearDown() override {
        NEBMessagingSharedLogger().setWriter(previousWriter_);
        net::TLSSettings::setExtraCAFile("");
        ManualRunLoop::TearDown();
        // What the test left to write goes into its sandbox while that is still there.
        ns::UserDefaults::resetStandardUserDefaults();
    }

    static const peers::TestCA& ca() { return *ca_; }
    // The SDK's standard services, as the program's parts get them.
    static std::shared_ptr<const NEBServices> services() { return NEBServices::standard(); }
    static bool runUntil(const std::function<bool()>& done) {
        return peers::runMainLoopUntil(done);
    }
    // Runs the main loop until `done` without waiting, as runUntil does, for the store's queue
    // to go idle: the queue may be held up by a test that holds the store's file.
    static bool pumpUntil(const std::function<bool()>& done) {
        return peers::runMainLoopUntil(done, std::chrono::seconds(30), peers::QueueWait::No);
    }
    static std::string storePath() {
        return NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
    }

    // Credentials checked in just now.
    NEBMessagingCheckinPreferences credentials() const {
        NEBMessagingCheckinPreferences preferences;
        preferences.deviceID = "4242";
        preferences.secretToken = "secret-4242";
        preferences.lastCheckinTimestampMillis =
            static_cast<int64_t>(dispatch::Clock::current().wallTime() * 1000);
        return preferences;
    }

    // A reachability monitor whose flags the test sets.
    static std::shared_ptr<NIPReachability> reachability(bool reachable) {
        auto monitor =
            std::make_shared<NIPReachability>(std::make_shared<net::InjectedReachabilitySource>(
                net::ReachabilityTarget::forNetworkInGeneral()));
        monitor->callbackWithFlags(reachable ? net::kReachabilityFlagsReachable : 0);
        return monitor;
    }

    std::shared_ptr<RecordingLogWriter> log_ = std::make_shared<RecordingLogWriter>();

private:
    testsupport::TempDir dir_;
    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;
    std::shared_ptr<NEBMessagingLogWriter> previousWriter_;
    static inline peers::TestCA* ca_ = nullptr;
};

}  // namespace messagingtest
