#include "plugins/device_storage/HYBConnection.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <optional>
#include <string>

#include "platform/ns/Exception.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/svc/Telephony.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "plugins/device_storage/HYBReachability.h"
#include "tests/plugins/device_storage/DeviceStateHarness.h"
#include "tests/support/LogCapture.h"

namespace {

using devicestate::SentResult;
using net::ReachabilityFlags;

constexpr ReachabilityFlags kReachable = net::kReachabilityFlagsReachable;
constexpr ReachabilityFlags kWWAN = net::kReachabilityFlagsIsWWAN;
constexpr ReachabilityFlags kRequired = net::kReachabilityFlagsConnectionRequired;
constexpr ReachabilityFlags kOnDemand = net::kReachabilityFlagsConnectionOnDemand;
constexpr ReachabilityFlags kOnTraffic = net::kReachabilityFlagsConnectionOnTraffic;
constexpr ReachabilityFlags kIntervention = net::kReachabilityFlagsInterventionRequired;
constexpr ReachabilityFlags kDirect = net::kReachabilityFlagsIsDirect;

// Every reachability gets an injected source; the radio starts absent.
class ConnectionTest : public devicestate::UserSettingsTest {
protected:
    void SetUp() override {
        UserSettingsTest::SetUp();
        net::ReachabilityFlagSource::setFactory([this](const net::ReachabilityTarget& target) {
            if (refuseSources_) return std::shared_ptr<net::InjectedReachabilitySource>();
            source_ = std::make_shared<net::InjectedReachabilitySource>(target, initialFlags_);
            return source_;
        });
    }
    void TearDown() override {
        connection_.reset();
        net::ReachabilityFlagSource::setFactory(nullptr);
        UserSettingsTest::TearDown();
    }

    ns::ScopedSharedInstance<svc::Telephony> telephony_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<ui::Device> device_;

    std::shared_ptr<HYBConnection> start(ReachabilityFlags flags) {
        initialFlags_ = flags;
        connection_ = makePlugin<HYBConnection>();
        return connection_;
    }
    // Changes the network and lets the change reach the plug-in.
    void network(ReachabilityFlags flags, std::optional<std::string> radio = std::nullopt) {
        svc::Telephony::shared().setCurrentRadioAccessTechnology(std::move(radio));
        source_->setFlags(flags);
        loop().runUntilIdle();
    }
    std::vector<std::string> pushedTypes(const std::string& callbackId = "Plugin1") {
        std::vector<std::string> types;
        for (const auto& sent : delegate_->sent) {
            EXPECT_EQ(sent.status, HYBResultStatusOK);
            EXPECT_TRUE(sent.keepCallback);
            if (sent.callbackId == callbackId) types.push_back(sent.message.stringValue());
        }
        return types;
    }

    ReachabilityFlags initialFlags_ = kReachable;
    bool refuseSources_ = false;
    std::shared_ptr<net::InjectedReachabilitySource> source_;
    std::shared_ptr<HYBConnection> connection_;
};

struct TypeCase {
    ReachabilityFlags flags;
    const char* radio;  // null: none
    const char* systemVersion;
    const char* type;
};

class ConnectionTypeTable : public ConnectionTest,
                            public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ConnectionTypeTable, TypeFromFlagsAndRadio) {
    const TypeCase& c = GetParam();
    ui::Device::current().setSystemVersion(c.systemVersion);
    if (c.radio) svc::Telephony::shared().setCurrentRadioAccessTechnology(c.radio);
    auto connection = start(c.flags);
    EXPECT_EQ(connection->connectionType(), c.type);
    EXPECT_EQ(connection->w3cConnectionTypeFor(connection->internetReach()), c.type);
    EXPECT_EQ(HYBConnection::isCellularConnection(c.type),
              std::string(c.type) == "2g" || std::string(c.type) == "3g" ||
                  std::string(c.type) == "4g" || std::string(c.type) == "cellular");
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ConnectionTypeTable,
    ::testing::Values(
        TypeCase{0, nullptr, "17.0", "none"}, TypeCase{kWWAN, nullptr, "17.0", "none"},
        TypeCase{kReachable, nullptr, "17.0", "wifi"},
        TypeCase{kReachable | kDirect, nullptr, "17.0", "wifi"},
        TypeCase{kReachable | kRequired, nullptr, "17.0", "none"},
        TypeCase{kReachable | kRequired | kOnDemand, nullptr, "17.0", "wifi"},
        TypeCase{kReachable | kRequired | kOnTraffic, nullptr, "17.0", "wifi"},
        TypeCase{kReachable | kRequired | kOnDemand | kIntervention, nullptr, "17.0", "none"},
        TypeCase{kReachable | kWWAN, nullptr, "17.0", "cellular"},
        TypeCase{kReachable | kWWAN | kRequired, svc::kCTRadioAccessTechnologyLTE, "17.0", "none"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyGPRS, "17.0", "2g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyEdge, "17.0", "2g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyWCDMA, "17.0", "3g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyHSUPA, "17.0", "3g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyCDMAEVDORevB, "17.0", "3g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyeHRPD, "17.0", "3g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyLTE, "17.0", "4g"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyNR, "17.0", "cellular"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyLTE, "6.1", "cellular"},
        TypeCase{kReachable | kWWAN, svc::kCTRadioAccessTechnologyLTE, "10.0", "4g"}));

TEST_F(ConnectionTest, UnreadableFlagsOrNoSourceMeanNone) {
    auto connection = start(kReachable);
    source_->setFlagsReadable(false);
    EXPECT_EQ(connection->w3cConnectionTypeFor(connection->internetReach()), "none");
    EXPECT_FALSE(connection->internetReach()->connectionRequired());

    refuseSources_ = true;
    auto without = makePlugin<HYBConnection>();
    EXPECT_EQ(without->internetReach(), nullptr);
    EXPECT_EQ(without->connectionType(), "none");
    delegate_->sent.clear();
    without->performAction("getConnectionInfo", devicestate::pageCall("getConnectionInfo"));
    EXPECT_EQ(pushedTypes(), std::vector<std::string>{"none"});
}

TEST_F(ConnectionTest, ChangesArePushedOnTheKeptCallback) {
    auto connection = start(kReachable);
    EXPECT_TRUE(source_->isScheduled());
    // Before the page asks, changes are kept but have nowhere to go.
    network(kReachable | kDirect);
    EXPECT_TRUE(pushedTypes().empty());

    connection->performAction("getConnectionInfo", devicestate::pageCall("getConnectionInfo"));
    EXPECT_EQ(pushedTypes(), std::vector<std::string>{"wifi"});

    network(kReachable | kWWAN, svc::kCTRadioAccessTechnologyLTE);
    network(kReachable | kWWAN, svc::kCTRadioAccessTechnologyLTE);  // the same type again
    network(0);
    network(kReachable);
    EXPECT_EQ(pushedTypes(), (std::vector<std::string>{"wifi", "4g", "none", "wifi"}));

    // A later request takes over the pushes.
    connection->performAction("getConnectionInfo",
                              devicestate::pageCall("getConnectionInfo", {}, "Plugin2"));
    network(kReachable | kWWAN, svc::kCTRadioAccessTechnologyEdge);
    EXPECT_EQ(pushedTypes(), (std::vector<std::string>{"wifi", "4g", "none", "wifi"}));
    EXPECT_EQ(pushedTypes("Plugin2"), (std::vector<std::string>{"wifi", "2g"}));
}

TEST_F(ConnectionTest, OnlyNotificationsOfAReachabilityAreEvaluated) {
    auto connection = start(kReachable | kWWAN);
    svc::Telephony::shared().setCurrentRadioAccessTechnology(svc::kCTRadioAccessTechnologyLTE);
    connection->performAction("getConnectionInfo", devicestate::pageCall("getConnectionInfo"));
    ASSERT_EQ(pushedTypes(), std::vector<std::string>{"cellular"});

    // The radio's own announcement carries no reachability: nothing is evaluated.
    svc::Telephony::shared().setCurrentRadioAccessTechnology(svc::kCTRadioAccessTechnologyHSDPA);
    auto& center = ns::NotificationCenter::defaultCenter();
    center.post(kNetworkReachabilityChangedNotification, std::make_shared<ns::Object>());
    center.post(kNetworkReachabilityChangedNotification);
    EXPECT_EQ(connection->connectionType(), "cellular");
    EXPECT_EQ(pushedTypes().size(), 1u);

    center.post(kNetworkReachabilityChangedNotification, connection->internetReach());
    EXPECT_EQ(pushedTypes(), (std::vector<std::string>{"cellular", "3g"}));
    // Without a reachability the current type is sent again.
    connection->updateReachability(nullptr);
    EXPECT_EQ(pushedTypes(), (std::vector<std::string>{"cellular", "3g", "3g"}));
}

TEST_F(ConnectionTest, BackgroundStopsWatchingAndForegroundPushesOnlyAChange) {
    auto connection = start(kReachable);
    connection->performAction("getConnectionInfo", devicestate::pageCall("getConnectionInfo"));
    auto& center = ns::NotificationCenter::defaultCenter();

    center.post(ui::kApplicationDidEnterBackgroundNotification);
    EXPECT_FALSE(source_->isScheduled());
    center.post(ui::kApplicationWillEnterForegroundNotification);
    EXPECT_TRUE(source_->isScheduled());
    EXPECT_EQ(pushedTypes(), std::vector<std::string>{"wifi"});

    center.post(ui::kApplicationDidEnterBackgroundNotification);
    network(0);
    EXPECT_EQ(pushedTypes(), std::vector<std::string>{"wifi"});
    center.post(ui::kApplicationWillEnterForegroundNotification);
    EXPECT_EQ(pushedTypes(), (std::vector<std::string>{"wifi", "none"}));
}

TEST_F(ConnectionTest, ReachabilityNotifierAndCallback) {
    EXPECT_EQ(HYBReachability::reachabilityWithHostName("example.org")
                  ->reachabilityRef()
                  ->target()
                  .hostName,
              "example.org");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x0a000001);
    ASSERT_TRUE(HYBReachability::reachabilityWithAddress(address));
    EXPECT_EQ(source_->target().addressLength, sizeof address);
    EXPECT_FALSE(source_->target().isNetworkInGeneral());
    auto reach = HYBReachability::reachabilityForInternetConnection();
    ASSERT_TRUE(reach);
    EXPECT_TRUE(source_->target().isNetworkInGeneral());

    int posted = 0;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        kNetworkReachabilityChangedNotification, reach, [&](const ns::Notification&) { ++posted; });
    EXPECT_TRUE(reach->startNotifier());
    network(kReachable | kWWAN);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(reach->currentReachabilityStatus(), ReachableViaWWAN);
    reach->stopNotifier();
    network(kReachable);
    EXPECT_EQ(posted, 1);
    ns::NotificationCenter::defaultCenter().removeObserver(token);

    auto failing = HYBReachability::reachabilityForInternetConnection();
    source_->setCallbackFails(true);
    EXPECT_FALSE(failing->startNotifier());
    EXPECT_FALSE(source_->isScheduled());
    source_->setCallbackFails(false);
    source_->setSchedulingFails(true);
    EXPECT_FALSE(failing->startNotifier());

    testsupport::LogCapture log;
    HYBReachability::ReachabilityCallback(kReachable, nullptr);
    HYBReachability::ReachabilityCallback(kReachable, std::make_shared<ns::Object>());
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"info was NULL in ReachabilityCallback",
                                        "info was wrong class in ReachabilityCallback"}));

    HYBReachability orphan(nullptr);
    try {
        orphan.currentReachabilityStatus();
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.reason(), "currentNetworkStatus called with NULL reachabilityRef");
    }
    EXPECT_THROW(orphan.connectionRequired(), ns::Exception);
}

TEST_F(ConnectionTest, AChangeAfterTheReachabilityIsGoneReachesNobody) {
    auto reach = HYBReachability::reachabilityForInternetConnection();
    reach->startNotifier();
    auto source = source_;
    reach.reset();
    EXPECT_FALSE(source->isScheduled());
    testsupport::LogCapture log;
    source->setFlags(0);
    loop().runUntilIdle();
    EXPECT_TRUE(log.texts().empty());
}

}  // namespace
