#include "sdk/core/NEBOptions.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/ns/Exception.h"
#include "sdk/core/NEBBundleUtil.h"
#include "tests/sdk/core/SdkCoreFixture.h"

namespace {

using sdktest::SdkCoreTest;

struct FlagCase {
    const char* name;
    ns::Dictionary info;
    ns::Dictionary options;
    bool measurement;
    bool collection;
    bool deactivated;
};

class NEBOptionsFlagTest : public SdkCoreTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(NEBOptionsFlagTest, InfoPlistWinsKeyByKey) {
    const auto& c = GetParam();
    ns::Dictionary info = c.info;
    info["CFBundleIdentifier"] = sdktest::kBundleIdentifier;
    writeInfoPlist(info);
    auto options = NEBOptions::initInternalWithOptionsDictionary(c.options);
    EXPECT_EQ(options->isMeasurementEnabled(), c.measurement);
    EXPECT_EQ(options->isAnalyticsCollectionEnabled(), c.collection);
    EXPECT_EQ(options->isAnalyticsCollectionDeactivated(), c.deactivated);
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, NEBOptionsFlagTest,
    ::testing::Values(
        FlagCase{"NoKeys", {}, {}, true, true, false},
        FlagCase{"DeactivatedInOptions",
                 {},
                 {{"NEBULA_ANALYTICS_COLLECTION_DEACTIVATED", true},
                  {"NEBULA_ANALYTICS_COLLECTION_ENABLED", true}},
                 false,
                 false,
                 true},
        FlagCase{"DeactivatedInInfo",
                 {{"NEBULA_ANALYTICS_COLLECTION_DEACTIVATED", true}},
                 {{"NEBULA_ANALYTICS_COLLECTION_ENABLED", true}, {"IS_MEASUREMENT_ENABLED", true}},
                 false,
                 false,
                 true},
        FlagCase{"InfoDisablesCollection",
                 {{"NEBULA_ANALYTICS_COLLECTION_ENABLED", false}},
                 {{"NEBULA_ANALYTICS_COLLECTION_ENABLED", true}},
                 true,
                 false,
                 false},
        FlagCase{"MeasurementOffCarriesCollection",
                 {},
                 {{"IS_MEASUREMENT_ENABLED", false}},
                 false,
                 false,
                 false},
        FlagCase{"CollectionKeyBeatsMeasurement",
                 {},
                 {{"IS_MEASUREMENT_ENABLED", false}, {"NEBULA_ANALYTICS_COLLECTION_ENABLED", true}},
                 false,
                 true,
                 false},
        FlagCase{"InfoDeactivationClearedByInfo",
                 {{"NEBULA_ANALYTICS_COLLECTION_DEACTIVATED", false}},
                 {{"NEBULA_ANALYTICS_COLLECTION_DEACTIVATED", true}},
                 true,
                 true,
                 false},
        FlagCase{"StringsAndNumbersAsBooleans",
                 {{"IS_MEASUREMENT_ENABLED", "YES"}},
                 {{"NEBULA_ANALYTICS_COLLECTION_ENABLED", 0}},
                 true,
                 false,
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SdkCoreTest, MergedFlagsAreKeptForTheLifeOfTheObject) {
    auto options = NEBOptions::initInternalWithOptionsDictionary({});
    EXPECT_TRUE(options->isAnalyticsCollectionEnabled());
    writeInfoPlist({{"NEBULA_ANALYTICS_COLLECTION_DEACTIVATED", true}});
    EXPECT_TRUE(options->isAnalyticsCollectionEnabled());
    EXPECT_FALSE(NEBOptions::initInternalWithOptionsDictionary({})->isAnalyticsCollectionEnabled());
}

TEST_F(SdkCoreTest, AnalyticsAndSignInSwitchesReadOnlyTheOptions) {
    writeInfoPlist({{"IS_ANALYTICS_ENABLED", true}, {"IS_SIGNIN_ENABLED", true}});
    auto none = NEBOptions::initInternalWithOptionsDictionary({});
    EXPECT_FALSE(none->isAnalyticsEnabled());
    EXPECT_FALSE(none->isSignInEnabled());
    auto both = NEBOptions::initInternalWithOptionsDictionary(
        {{"IS_ANALYTICS_ENABLED", true}, {"IS_SIGNIN_ENABLED", "true"}});
    EXPECT_TRUE(both->isAnalyticsEnabled());
    EXPECT_TRUE(both->isSignInEnabled());
}

TEST_F(SdkCoreTest, CustomOptionsLeaveAbsentValuesOut) {
    auto options = NEBOptions::initWithNebulaAppID("1:123:ios:abc", "com.example.x", "123", "key",
                                                   std::nullopt, std::nullopt, std::nullopt,
                                                   std::nullopt, std::nullopt, "greenhouse");
    const auto& dictionary = *options->optionsDictionary();
    EXPECT_FALSE(dictionary.contains("CLIENT_ID"));
    EXPECT_EQ(dictionary.size(), 4u);
    EXPECT_EQ(options->clientID(), std::nullopt);
    EXPECT_EQ(options->nebulaAppID(), "1:123:ios:abc");
    EXPECT_EQ(options->bundleID(), "com.example.x");
    EXPECT_EQ(options->deepLinkURLScheme(), "greenhouse");
    EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
    try {
        NEBOptions::initWithNebulaAppID(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                        std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                        std::nullopt, std::nullopt);
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), "com.nebula.core");
        EXPECT_EQ(e.reason(), "Please specify a valid Nebula App ID.");
    }
}

TEST_F(SdkCoreTest, ValuesOfAnotherTypeReadAsAbsent) {
    auto options =
        NEBOptions::initInternalWithOptionsDictionary({{"API_KEY", 42},
                                                       {"MSG_SENDER_ID", ns::Value::array({"x"})},
                                                       {"NEBULA_APP_ID", "1:1:ios:f"}});
    EXPECT_EQ(options->APIKey(), std::nullopt);
    EXPECT_EQ(options->MSGSenderID(), std::nullopt);
    EXPECT_EQ(options->nebulaAppID(), "1:1:ios:f");
}

TEST_F(SdkCoreTest, DefaultOptionsComeFromTheBundleAndCopiesAreNotDefault) {
    writeOptionsPlist({{"NEBULA_APP_ID", "1:1:ios:f"}, {"MSG_SENDER_ID", "1"}});
    auto options = NEBOptions::defaultOptions();
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->usingOptionsFromDefaultPlist());
    EXPECT_EQ(NEBOptions::defaultOptions(), options);
    auto copy = options->copy();
    EXPECT_FALSE(copy->usingOptionsFromDefaultPlist());
    EXPECT_EQ(copy->optionsDictionary(), options->optionsDictionary());
    EXPECT_EQ(copy->MSGSenderID(), "1");
}

TEST_F(SdkCoreTest, MissingDefaultPlistIsLoggedEachTimeAndRetried) {
    logs_.expect("[I-COR000012] Could not locate configuration file");
    EXPECT_EQ(NEBOptions::defaultOptions(), nullptr);
    EXPECT_EQ(NEBOptions::defaultOptions(), nullptr);
    EXPECT_EQ(logs().count("[Nebula/Core][I-COR000012] Could not locate configuration file: "
                           "'NebulaService-Info.plist'."),
              2u);
    writeOptionsPlist({{"NEBULA_APP_ID", "1:1:ios:f"}});
    EXPECT_TRUE(NEBOptions::defaultOptions());
}

TEST_F(SdkCoreTest, DefaultPlistThatIsNoDictionaryIsRefused) {
    logs_.expect("[I-COR000011] The configuration file is not a dictionary");
    writePlist(bundlePath() + "/NebulaService-Info.plist", ns::Value::array({"a"}));
    EXPECT_EQ(NEBOptions::defaultOptions(), nullptr);
    EXPECT_TRUE(logs().contains(
        "[I-COR000011] The configuration file is not a dictionary: 'NebulaService-Info.plist'."));
}

TEST_F(SdkCoreTest, OptionsFromAFile) {
    logs_.expect("[I-COR000013] The plist file path is nil.");
    logs_.expect("[I-COR000014] The configuration file at ");
    EXPECT_EQ(NEBOptions::initWithContentsOfFile(std::nullopt), nullptr);
    auto path = dir_.str() + "/custom.plist";
    EXPECT_EQ(NEBOptions::initWithContentsOfFile(path), nullptr);
    std::ofstream(path) << "not a plist";
    EXPECT_EQ(NEBOptions::initWithContentsOfFile(path), nullptr);
    EXPECT_TRUE(logs().contains("[I-COR000013] The plist file path is nil."));
    EXPECT_EQ(logs().count("[I-COR000014] The configuration file at " + path +
                           " does not exist or is not a well-formed plist file."),
              2u);
    writePlist(path, ns::Value::dict({{"NEBULA_APP_ID", "2:9:ios:0"}}));
    auto options = NEBOptions::initWithContentsOfFile(path);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->nebulaAppID(), "2:9:ios:0");
    EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
}

TEST_F(SdkCoreTest, URLSchemesOfEveryRelevantBundleInOrder) {
    writeInfoPlist(
        {{"CFBundleIdentifier", sdktest::kBundleIdentifier},
         {"CFBundleURLTypes",
          ns::Value::array(
              {ns::Value::dict({{"CFBundleURLSchemes", ns::Value::array({"a", "b"})}}),
               ns::Value::dict({{"CFBundleURLName", "x"}}),
               ns::Value::dict({{"CFBundleURLSchemes", ns::Value::array({"c", 7})}})})}});
    EXPECT_EQ(NEBBundleUtil::relevantURLSchemes(),
              (std::vector<std::string>{"a", "b", "c", "a", "b", "c"}));
    EXPECT_EQ(NEBBundleUtil::relevantBundleIdentifiers(),
              std::set<std::string>{sdktest::kBundleIdentifier});
    EXPECT_TRUE(NEBBundleUtil::hasBundleIdentifier(sdktest::kBundleIdentifier,
                                                   NEBBundleUtil::relevantBundles()));
    EXPECT_FALSE(
        NEBBundleUtil::hasBundleIdentifier("com.example.other", NEBBundleUtil::relevantBundles()));
}

}  // namespace
