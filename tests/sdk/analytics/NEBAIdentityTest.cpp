#include <gtest/gtest.h>

#include <unicode/timezone.h>

#include <memory>
#include <optional>

#include "platform/dispatch/Queue.h"
#include "platform/ns/LocalTime.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/analytics/NEBAASIdentifierManager.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAIdentity.h"
#include "sdk/core/NEBServiceHosts.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace analyticstest {
namespace {

// The device's advertising-identifier service, as a platform that has one offers it.
class FakeAdvertising : public svc::AdvertisingIdentifierManager {
public:
    bool isAdvertisingTrackingEnabled() const override { return trackingEnabled; }
    std::optional<ns::UUID> advertisingIdentifier() const override { return identifier; }
    bool trackingEnabled = true;
    std::optional<ns::UUID> identifier;
};

class IdentityTest : public AnalyticsTest {
protected:
    // Registers the service (or not) before the bridge to it is first made.
    void withAdvertising(bool present) {
        if (present) {
            rt::ClassRegistry::shared().registerClass(
                svc::kAdvertisingIdentifierManagerClassName, std::nullopt,
                [this] { return advertising_; },
                {svc::kAdvertisingSharedManagerOperation, svc::kAdvertisingTrackingEnabledOperation,
                 svc::kAdvertisingIdentifierOperation});
        }
        bridge_.emplace();
    }

    std::unique_ptr<NEBAIdentity> launch() {
        auto options = std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(
            ns::Dictionary{{kNEBNebulaAppID, ns::Value("1:1:ios:1")}}));
        return NEBAIdentity::initWithPersistedConfig(persistedConfig(), options);
    }

    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;
    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;
    std::optional<ns::ScopedSharedInstance<NEBAASIdentifierManager>> bridge_;
    std::shared_ptr<FakeAdvertising> advertising_ = std::make_shared<FakeAdvertising>();
};

TEST_F(IdentityTest, AppInstanceIDSurvivesLaunchesAndIsRenewedOnlyWhenTheAdvertisingIDChanges) {
    withAdvertising(true);
    advertising_->identifier = ns::UUID();
    auto first = launch();
    std::string id = first->appInstanceID();
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    // The identifier first seen is recorded, the instance ID kept.
    EXPECT_EQ(first->hashedIDFA()->size(), 32u);
    EXPECT_EQ(launch()->appInstanceID(), id);

    // Within the cache time the identifiers are not read again.
    auto identity = launch();
    EXPECT_EQ(identity->resettableDeviceID(), advertising_->identifier->UUIDString());
    advertising_->identifier = ns::UUID();
    EXPECT_EQ(identity->appInstanceID(), id);
    clock().advanceSeconds(2);
    std::string renewed = identity->appInstanceID();
    EXPECT_NE(renewed, id);
    EXPECT_EQ(identity->resettableDeviceID(), advertising_->identifier->UUIDString());
    EXPECT_EQ(launch()->appInstanceID(), renewed);
}

TEST_F(IdentityTest, WithoutAnAdvertisingIdentifierTheVendorIdentifierIsReported) {
    withAdvertising(true);
    advertising_->trackingEnabled = false;
    auto identity = launch();
    EXPECT_TRUE(identity->hasLimitedAdTracking());
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    auto vendor = identity->identifierForVendor();
    ASSERT_TRUE(vendor);
    EXPECT_EQ(*vendor, sys::DeviceFacts::current().identifierForVendor()->UUIDString());

    advertising_->identifier = ns::UUID();
    clock().advanceSeconds(2);
    EXPECT_EQ(identity->identifierForVendor(), std::nullopt);
}

TEST_F(IdentityTest, TheVendorIdentifierIsReadOnAWorkerWhileTheMainThreadWaitsForIt) {
    withAdvertising(false);
    auto identity = launch();
    auto worker = dispatch::Queue::createSerial("test.identity.worker");
    // The main thread blocks on the worker: a fact fetched through the main queue would
    // never come.
    auto vendor = worker->sync([&] { return identity->identifierForVendor(); });
    ASSERT_TRUE(vendor);
    EXPECT_EQ(*vendor, sys::DeviceFacts::current().identifierForVendor()->UUIDString());
}

TEST_F(IdentityTest, WithoutTheServiceLimitedTrackingIsUnknown) {
    withAdvertising(false);
    auto identity = launch();
    EXPECT_FALSE(identity->hasLimitedAdTracking());
    EXPECT_FALSE(identity->limitedAdTracking());
    EXPECT_TRUE(logs().contains("The AdSupport Framework is not currently linked"));
    EXPECT_TRUE(identity->identifierForVendor());
}

TEST_F(IdentityTest, InstanceIdentityFailureIsLoggedAndGivesNone) {
    withAdvertising(false);
    NEBServiceHosts::setMeasurementUploadHost("127.0.0.1:8443");
    NEBAIdentity::ScopedInstanceIDSource failing(
        [] { return ns::Result<std::string>(ns::Error("com.nebula.iid", 6)); });
    EXPECT_EQ(launch()->nebulaInstanceID(), std::nullopt);
    EXPECT_TRUE(logs().contains("Failed to get InstanceID"));
    NEBAIdentity::ScopedInstanceIDSource working(
        [] { return ns::Result<std::string>(std::string("iid")); });
    EXPECT_EQ(launch()->nebulaInstanceID(), "iid");
}

// With a measurement host that never resolves (the default) nothing measured can leave: instance
// identity is not asked for its identifier, whose key pair would load the cryptography.
TEST_F(IdentityTest, NoInstanceIdentifierIsMadeForAMeasurementHostThatNeverResolves) {
    withAdvertising(false);
    int asked = 0;
    NEBAIdentity::ScopedInstanceIDSource counting([&asked] {
        ++asked;
        return ns::Result<std::string>(std::string("iid"));
    });
    auto identity = launch();
    EXPECT_EQ(identity->nebulaInstanceID(), std::nullopt);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(logs().contains("Failed to get InstanceID"));
    NEBServiceHosts::setMeasurementUploadHost("measure.example.test");
    EXPECT_EQ(identity->nebulaInstanceID(), "iid");
    EXPECT_EQ(asked, 1);
}

TEST_F(IdentityTest, VersionNumbers) {
    using Fields = std::vector<int32_t>;
    EXPECT_EQ(NEBAIdentity::numericFieldsFromAppVersionNumeric("1.2b3..4"), (Fields{1, 23, 4}));
    EXPECT_EQ(NEBAIdentity::numericFieldsFromAppVersionNumeric("12"), (Fields{12}));
    EXPECT_EQ(NEBAIdentity::numericFieldsFromAppVersionNumeric(""), Fields{});
    EXPECT_EQ(NEBAIdentity::formattedLibraryVersionFromNEBOptions("3403000"), 3403);
    EXPECT_EQ(NEBAIdentity::formattedLibraryVersionFromNEBOptions("340"), 0);
}

TEST_F(IdentityTest, TimeZoneOffsetsWestOfGreenwichAreNegative) {
    std::string saved = ns::LocalTime::defaultTimeZone();
    ns::LocalTime::setDefaultTimeZone("America/New_York");
    clock().advanceSeconds(1.7040672e9 - clock().wallTime());  // 2024-01-01, no daylight saving
    int32_t west = NEBAEnvironmentInfo::sharedInstance().timeZoneOffsetMinutes();
    ns::LocalTime::setDefaultTimeZone("Asia/Kolkata");
    int32_t east = NEBAEnvironmentInfo::sharedInstance().timeZoneOffsetMinutes();
    ns::LocalTime::setDefaultTimeZone(saved);
    EXPECT_EQ(west, -300);
    EXPECT_EQ(east, 330);
}

}  // namespace
}  // namespace analyticstest
