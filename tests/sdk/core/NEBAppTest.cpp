#include "sdk/core/NEBApp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "platform/ns/Exception.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/UUID.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBAnalyticsStarting.h"
#include "sdk/core/NEBConfiguration.h"
#include "sdk/core/NEBHash.h"
#include "tests/sdk/core/AppFixture.h"

namespace {

using sdktest::AppTest;

// Collects the notifications of one name.
class Posted {
public:
    explicit Posted(const char* name) {
        token_ = ns::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [this](const ns::Notification& n) { seen.push_back(n); });
    }
    ~Posted() { ns::NotificationCenter::defaultCenter().removeObserver(token_); }
    std::vector<ns::Notification> seen;

private:
    ns::NotificationCenter::ObserverToken token_;
};

template <class F>
std::string exceptionReason(F&& f) {
    try {
        f();
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), "com.nebula.core");
        return e.reason();
    }
    return "(no exception)";
}

// Stands in for the analytics part, which registers itself by class name.
class FakeAnalytics : public ns::Object, public NEBAnalyticsStarting {
public:
    struct Start {
        std::shared_ptr<NEBAnalyticsConfiguration> configuration;
        std::shared_ptr<NEBOptions> options;
        std::shared_ptr<const NEBServices> services;
    };
    void startWithConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration,
                                std::shared_ptr<NEBOptions> options,
                                std::shared_ptr<const NEBServices> services) override {
        starts.push_back({std::move(configuration), std::move(options), std::move(services)});
    }
    std::vector<Start> starts;

    // Registers "NEBAnalytics" as the analytics part does, answering the start operation.
    static std::shared_ptr<FakeAnalytics> registerClass() {
        auto analytics = std::make_shared<FakeAnalytics>();
        rt::ClassRegistry::shared().registerClass("NEBAnalytics", std::nullopt,
                                                  [analytics] { return analytics; },
                                                  {"startWithConfiguration:options:"});
        return analytics;
    }
};

struct AppIDCase {
    const char* name;
    std::optional<std::string> appID;
    bool valid;
    const char* logged = nullptr;  // the line a refusal logs, if any
};

class AppIDValidationTest : public AppTest, public ::testing::WithParamInterface<AppIDCase> {};

TEST_P(AppIDValidationTest, Validates) {
    if (GetParam().logged) logs_.expect(GetParam().logged);
    EXPECT_EQ(NEBApp::validateAppID(GetParam().appID), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    AppIDs, AppIDValidationTest,
    ::testing::Values(
        AppIDCase{"VersionOneAnyBundle", "1:1234567890:ios:0123456789abcdef", true},
        AppIDCase{"VersionOneNotIOS", "1:1234567890:mobile:0123456789abcdef", false},
        AppIDCase{"VersionOneUpperCaseHex", "1:1234567890:ios:ABCDEF", false},
        AppIDCase{"VersionOneExtraPart", "1:1234567890:ios:abc:def", false},
        AppIDCase{"VersionOneTrailingNewline", "1:1234567890:ios:abc\n", false},
        AppIDCase{"VersionOneNoDigits", "1::ios:abc", false},
        AppIDCase{"VersionThreeUnchecked", "3:anything at all", true},
        AppIDCase{"VersionTenUnchecked", "10:x", true}, AppIDCase{"NoVersion", "ios:abc", false},
        AppIDCase{"LeadingColon", ":1:ios:abc", false}, AppIDCase{"Empty", "", false},
        AppIDCase{"Absent", std::nullopt, false},
        // FarmHash fingerprint of "com.example.greenhouse", the test bundle's identifier.
        AppIDCase{"VersionTwoMatchingFingerprint", "2:1234567890:ios:3c56220b648cbcd8", true},
        AppIDCase{"VersionTwoOtherFingerprint", "2:1234567890:ios:3c56220b648cbcd9", false,
                  "[I-COR000010] The fingerprint portion of NEBULA_APP_ID"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, FingerprintMismatchNamesTheBundle) {
    logs_.expect("[Nebula/Core][I-COR000010] The fingerprint portion of NEBULA_APP_ID");
    EXPECT_FALSE(NEBApp::validateAppID("2:1:ios:abcdef"));
    EXPECT_TRUE(logs().contains(
        "[Nebula/Core][I-COR000010] The fingerprint portion of NEBULA_APP_ID in the plist file "
        "'NebulaService-Info.plist' does not match the expected value for the bundle identifier "
        "'com.example.greenhouse'."));
    // The fingerprint part is read as a leading hexadecimal number; what follows is ignored.
    EXPECT_TRUE(NEBApp::validateAppIDFingerprint("2:1:ios:3c56220b648cbcd8zz", "2:"));
    EXPECT_FALSE(NEBApp::validateAppIDFingerprint("2:1:ios:", "2:"));
    EXPECT_FALSE(NEBApp::validateAppIDFingerprint("2:1:ios:xyz", "2:"));
    EXPECT_FALSE(NEBApp::validateAppIDFormat("1:1:ios:ab", "1"));
}

TEST(NEBHashTest, FingerprintKnownAnswers) {
    EXPECT_EQ(NEBHash::calculatedFingerprintForString(""), 0x9ae16a3b2f90404fULL);
    EXPECT_EQ(NEBHash::calculatedFingerprintForString("a"), 0xb3454265b6df75e3ULL);
    EXPECT_EQ(NEBHash::calculatedFingerprintForString("abcd"), 0x1a5502de4a1f8101ULL);
    EXPECT_EQ(NEBHash::calculatedFingerprintForString("com.example.greenhouse"),
              0x3c56220b648cbcd8ULL);
}

TEST_F(AppTest, ConfigureAnnouncesTheDefaultAppOnce) {
    logs_.expect("[Nebula/Core][I-COR000022] Nebula Analytics is not available.");
    writeOptionsPlist(sdktest::validOptions());
    Posted ready(kNEBAppReadyToConfigureSDKNotification);
    NEBApp::configure();

    ASSERT_EQ(ready.seen.size(), 1u);
    EXPECT_EQ(ready.seen[0].object, NEBApp::classObject());
    EXPECT_EQ(ready.seen[0].userInfo,
              (ns::Dictionary{{"NEBAppNameKey", "__NEBAPP_DEFAULT"},
                              {"NEBNebulaAppIDKey", "1:1234567890:ios:0123456789abcdef"}}));
    auto app = NEBApp::defaultApp();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->name(), "__NEBAPP_DEFAULT");
    EXPECT_EQ(app->options(), NEBOptions::defaultOptions());
    EXPECT_EQ(NEBApp::appNamed("__NEBAPP_DEFAULT"), app);
    EXPECT_EQ(NEBApp::allApps().size(), 1u);

    EXPECT_EQ(exceptionReason([] { NEBApp::configure(); }),
              "Default app has already been configured.");
    EXPECT_EQ(ready.seen.size(), 1u);
}

TEST_F(AppTest, ConfiguringWithoutNotificationThenWithPostsOnce) {
    logs_.expect("[Nebula/Core][I-COR000022] Nebula Analytics is not available.");
    writeOptionsPlist(sdktest::validOptions());
    Posted ready(kNEBAppReadyToConfigureSDKNotification);
    NEBApp::configureWithoutSendingNotification();
    EXPECT_TRUE(ready.seen.empty());
    NEBApp::configure();
    EXPECT_EQ(ready.seen.size(), 1u);
    EXPECT_EQ(exceptionReason([] { NEBApp::configureWithoutSendingNotification(); }),
              "Default app has already been configured.");
    EXPECT_EQ(ready.seen.size(), 1u);
}

TEST_F(AppTest, MissingOptionsFileIsReportedThenRaised) {
    logs_.expect("[I-COR000012] Could not locate configuration file: 'NebulaService-Info.plist'");
    logs_.expect("[I-COR000003] The default Nebula app has not yet been configured.");
    EXPECT_EQ(exceptionReason([] { NEBApp::configure(); }),
              "[NEBApp configure] could not find a valid NebulaServices-Info.plist in your "
              "project. Please download one from https://console.nebula.invalid.");
    EXPECT_EQ(exceptionReason([] { NEBApp::configureWithoutSendingNotification(); }),
              "Please check there is a valid NebulaService-Info.plist in the project.");
    EXPECT_EQ(exceptionReason([] { NEBApp::configureWithOptions(nullptr); }),
              "Options is nil. Please pass a valid options.");
    auto records = queuedRecords();
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records) {
        EXPECT_EQ(record.pod_name(), NEB_ICORE::ICoreConfiguration::NEBULA);
        EXPECT_EQ(record.configuration_type(), NEB_ICORE::ICoreConfiguration::CORE);
        EXPECT_TRUE(record.error_info().has_error());
        EXPECT_EQ(record.error_info().error_code(), -100);
        EXPECT_EQ(record.error_info().error_domain(), "com.nebula.core");
    }
    EXPECT_FALSE(NEBApp::defaultApp());
}

TEST_F(AppTest, InvalidAppIDIsLoggedAndRaisedAndLeavesNoDefaultApp) {
    logs_.expect("[Nebula/Core][I-COR000009] The NEBULA_APP_ID either in the plist file");
    logs_.expect("[I-COR000003] The default Nebula app has not yet been configured.");
    auto options = sdktest::validOptions();
    options["NEBULA_APP_ID"] = "1:1234567890:android:abc";
    writeOptionsPlist(options);
    Posted ready(kNEBAppReadyToConfigureSDKNotification);
    EXPECT_EQ(exceptionReason([] { NEBApp::configure(); }),
              "Configuration fails. It may be caused by an invalid NEBULA_APP_ID in "
              "NebulaService-Info.plist or set in the customized options.");
    EXPECT_TRUE(ready.seen.empty());
    EXPECT_TRUE(
        logs().contains("[Nebula/Core][I-COR000009] The NEBULA_APP_ID either in the "
                        "plist file 'NebulaService-Info.plist' or the one set"));
    EXPECT_FALSE(NEBApp::defaultApp());
    EXPECT_TRUE(
        logs().contains("[I-COR000003] The default Nebula app has not yet been configured."));
    EXPECT_TRUE(NEBApp::allApps().empty());
}

TEST_F(AppTest, NamedAppsFollowTheNameRules) {
    logs_.expect("[I-COR000012] Could not locate configuration file: 'NebulaService-Info.plist'");
    auto options = NEBOptions::initInternalWithOptionsDictionary(sdktest::validOptions());
    EXPECT_EQ(exceptionReason([&] { NEBApp::configureWithName(std::nullopt, options); }),
              "Neither name nor options can be nil.");
    EXPECT_EQ(exceptionReason([] { NEBApp::configureWithName("x", nullptr); }),
              "Neither name nor options can be nil.");
    EXPECT_EQ(exceptionReason([&] { NEBApp::configureWithName("", options); }),
              "Name cannot be empty.");
    EXPECT_EQ(exceptionReason([&] { NEBApp::configureWithName("__NEBAPP_DEFAULT", options); }),
              "Name cannot be __NEBAPP_DEFAULT.");
    EXPECT_EQ(exceptionReason([&] { NEBApp::configureWithName("my-app", options); }),
              "App name should only contain Letters, Numbers and Underscore.");

    Posted ready(kNEBAppReadyToConfigureSDKNotification);
    NEBApp::configureWithName("Green_House2", options);
    ASSERT_EQ(ready.seen.size(), 1u);
    EXPECT_EQ(ready.seen[0].userInfo.at("NEBAppNameKey"), ns::Value("Green_House2"));
    EXPECT_EQ(exceptionReason([&] { NEBApp::configureWithName("Green_House2", options); }),
              "App named Green_House2 has already been configured.");
    EXPECT_TRUE(NEBApp::appNamed("Green_House2"));
    // A named app is no default app and does not start analytics.
    EXPECT_FALSE(logs().contains("I-COR000022"));
}

TEST_F(AppTest, LookUpsOfWhatIsNotThereAreLogged) {
    logs_.expect("[Nebula/Core][I-COR000005] No app has been configured yet.");
    logs_.expect("[Nebula/Core][I-COR000004] App with name nothing does not exist.");
    EXPECT_TRUE(NEBApp::allApps().empty());
    EXPECT_TRUE(logs().contains("[Nebula/Core][I-COR000005] No app has been configured yet."));
    EXPECT_EQ(NEBApp::appNamed("nothing"), nullptr);
    EXPECT_TRUE(
        logs().contains("[Nebula/Core][I-COR000004] App with name nothing does not exist."));
}

TEST_F(AppTest, DeletingAnAppAnnouncesItOnce) {
    logs_.expect("[I-COR000012] Could not locate configuration file: 'NebulaService-Info.plist'");
    logs_.expect("[Nebula/Core][I-COR000007] App does not exist.");
    auto options = NEBOptions::initInternalWithOptionsDictionary(sdktest::validOptions());
    NEBApp::configureWithName("garden", options);
    auto app = NEBApp::appNamed("garden");
    Posted deleted(kNEBAppDeleteNotification);
    std::vector<bool> answers;
    app->deleteApp([&](bool success) { answers.push_back(success); });
    app->deleteApp([&](bool success) { answers.push_back(success); });
    EXPECT_EQ(answers, (std::vector<bool>{true, false}));
    ASSERT_EQ(deleted.seen.size(), 1u);
    EXPECT_EQ(deleted.seen[0].userInfo, (ns::Dictionary{{"NEBAppNameKey", "garden"}}));
    EXPECT_TRUE(logs().contains("[Nebula/Core][I-COR000007] App does not exist."));

    NEBApp stranger("stranger", options);
    stranger.deleteApp([&](bool success) { answers.push_back(success); });
    EXPECT_EQ(answers.back(), false);
}

TEST_F(AppTest, AnalyticsIsStartedByClassNameForTheDefaultAppOnly) {
    auto analytics = FakeAnalytics::registerClass();
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();
    NEBApp::configureWithName("second", NEBOptions::defaultOptions()->copy());
    ASSERT_EQ(analytics->starts.size(), 1u);
    EXPECT_EQ(analytics->starts[0].configuration,
              NEBConfiguration::sharedInstance().analyticsConfiguration());
    EXPECT_EQ(analytics->starts[0].options, NEBOptions::defaultOptions());
    // Analytics stands on the services the core made, as the other parts do.
    EXPECT_EQ(analytics->starts[0].services, NEBApp::services());
    EXPECT_FALSE(logs().contains("I-COR000022"));
}

TEST_F(AppTest, MissingAnalyticsIsOnlyLogged) {
    logs_.expect("[Nebula/Core][I-COR000022] Nebula Analytics is not available.");
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();
    EXPECT_TRUE(NEBApp::defaultApp());
    EXPECT_TRUE(logs().contains("[Nebula/Core][I-COR000022] Nebula Analytics is not available."));
}

TEST_F(AppTest, ErrorsOfTheCore) {
    auto missing = NEBApp::errorForMissingOptions();
    EXPECT_EQ(missing.domain(), "com.nebula.core");
    EXPECT_EQ(missing.code(), -100);
    EXPECT_EQ(missing.localizedDescription(),
              "Unable to parse NebulaService-Info.plist in order to configure services.");
    EXPECT_EQ(missing.userInfo().at("NSLocalizedRecoverySuggestion"),
              ns::Value("Check formatting and location of NebulaService-Info.plist."));
    EXPECT_EQ(NEBApp::errorForInvalidAppID().code(), -101);
    auto subspec = NEBApp::errorForSubspecConfigurationFailureWithDomain(
        "com.nebula.cloudmessaging", -113, "Messaging",
        "Nebula Sender ID must not be nil or empty.");
    EXPECT_EQ(subspec.domain(), "com.nebula.cloudmessaging");
    EXPECT_EQ(subspec.code(), -113);
    EXPECT_EQ(subspec.localizedDescription(), "Configuration failed for service Messaging.");
    EXPECT_EQ(subspec.userInfo().at("NSLocalizedFailureReason"),
              ns::Value("Nebula Sender ID must not be nil or empty."));
}

TEST_F(AppTest, TokenWithoutImplementationAnswersNothing) {
    NEBApp app("x", NEBOptions::initInternalWithOptionsDictionary({}));
    int calls = 0;
    app.getTokenForcingRefresh(true, [&](auto token, auto error) {
        ++calls;
        EXPECT_FALSE(token);
        EXPECT_FALSE(error);
    });
    app.setGetTokenImplementation([](bool force, NEBApp::TokenCallback callback) {
        callback(force ? "fresh" : "cached", std::nullopt);
    });
    app.getTokenForcingRefresh(true, [&](auto token, auto) {
        ++calls;
        EXPECT_EQ(token, "fresh");
    });
    EXPECT_EQ(calls, 2);
}

TEST_F(AppTest, RegistrationRecordDescribesTheConfiguration) {
    rt::ClassRegistry::shared().registerClass("NEBMessaging", std::nullopt, nullptr);
    auto analytics = FakeAnalytics::registerClass();
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();

    auto records = queuedRecords();
    ASSERT_EQ(records.size(), 1u);
    const auto& record = records[0];
    EXPECT_EQ(record.configuration_type(), NEB_ICORE::ICoreConfiguration::CORE);
    EXPECT_EQ(record.icore_version(), "3403000");
    EXPECT_EQ(record.pod_name(), NEB_ICORE::ICoreConfiguration::NEBULA);
    EXPECT_EQ(record.app_id(), "1:1234567890:ios:0123456789abcdef");
    EXPECT_EQ(record.bundle_id(), "com.example.greenhouse");
    EXPECT_EQ(record.install(), *NEBApp::installString());
    EXPECT_EQ(record.device_model(), sys::DeviceFacts::current().machine());
    EXPECT_EQ(record.os_version(), "17.0");
    EXPECT_EQ(record.min_supported_ios_version(), "60000");
    ASSERT_EQ(record.sdk_service_installed_size(), 2);
    EXPECT_EQ(record.sdk_service_installed(0), NEB_ICORE::ICoreConfiguration::MESSAGING);
    EXPECT_EQ(record.sdk_service_installed(1), NEB_ICORE::ICoreConfiguration::MEASUREMENT);
    EXPECT_TRUE(record.use_default_app());
    EXPECT_EQ(record.app_count(), 1);
    EXPECT_FALSE(record.has_error_info());
}

TEST_F(AppTest, SdkPartRecordCarriesAnEmptyErrorInfo) {
    logs_.expect("[Nebula/Core][I-COR000022] Nebula Analytics is not available.");
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();
    NEBApp::defaultApp()->sendLogsWithServiceName("Messaging", "1.2.0", std::nullopt);
    NEBApp::defaultApp()->sendLogsWithServiceName("InstanceID", "2.0",
                                                  ns::Error("com.nebula.iid", 7));
    auto records = queuedRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].configuration_type(), NEB_ICORE::ICoreConfiguration::SDK);
    EXPECT_EQ(records[1].sdk_name(), NEB_ICORE::ICoreConfiguration::MESSAGING);
    EXPECT_EQ(records[1].sdk_version(), "1.2.0");
    EXPECT_TRUE(records[1].has_error_info());
    EXPECT_EQ(records[1].error_info().ByteSizeLong(), 0u);
    EXPECT_EQ(records[2].sdk_name(), NEB_ICORE::ICoreConfiguration::UNKNOWN_SDK_SERVICE);
    EXPECT_EQ(records[2].error_info().error_code(), 7);
    EXPECT_EQ(records[2].error_info().error_domain(), "com.nebula.iid");
    EXPECT_EQ(NEBApp::mapFromServiceStringToTypeEnum("InstanceID"), 0);
    EXPECT_EQ(NEBApp::mapFromServiceStringToTypeEnum("Messaging"), 17);
}

TEST_F(AppTest, InstallUUIDIsMadeOnceAndKept) {
    auto first = NEBApp::installString();
    ASSERT_TRUE(first);
    EXPECT_TRUE(ns::UUID::fromString(*first));
    EXPECT_EQ(*first, ns::UUID::fromString(*first)->UUIDString());  // upper case
    auto path = *NEBApp::filePathURLWithName("NEBULA_UNIQUE_INSTALL");
    EXPECT_EQ(sdktest::readFileBytes(path), *first);
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(path));
    relaunch();
    EXPECT_EQ(NEBApp::installString(), first);
}

TEST_F(AppTest, BackupExclusionWorksWithoutExtendedAttributes) {
    ns::InjectedFaults::add("setxattr", ENOTSUP);
    auto path = *NEBApp::filePathURLWithName("NEBULA_LAST_TIMESTAMP");
    EXPECT_TRUE(NEBApp::writeString("1.000000", path));
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(path));
}

class DailyRecordTest : public AppTest, public ::testing::WithParamInterface<double> {};

TEST_P(DailyRecordTest, SentWhenTheLastOneIsMoreThanADayAway) {
    double offset = GetParam();
    bool expected = std::fabs(offset) > 86400.0;
    // The record is made from the options, which this bundle lacks.
    if (expected) logs_.expect("[I-COR000012] Could not locate configuration file");
    auto path = *NEBApp::filePathURLWithName("NEBULA_LAST_TIMESTAMP");
    ASSERT_TRUE(NEBApp::writeString(ns::format("%f", clock().wallTime() + offset), path));
    NEBApp::logAppInfo();
    auto records = queuedRecords();
    ASSERT_EQ(records.size(), expected ? 1u : 0u) << offset;
    if (expected) {
        EXPECT_FALSE(records[0].has_configuration_type());
        EXPECT_EQ(records[0].device_model(), sys::DeviceFacts::current().machine());
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, DailyRecordTest,
                         ::testing::Values(-86401.0, -86399.0, 0.0, 86399.0, 86401.0, -1e9));

TEST_F(AppTest, ActivationObserversAreInstalledOncePerProcess) {
    logs_.expect("[Nebula/Core][I-COR000022] Nebula Analytics is not available.");
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();
    relaunch();
    NEBApp::configure();
    auto before = queuedRecords().size();
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(queuedRecords().size(), before + 1);
}

}  // namespace
