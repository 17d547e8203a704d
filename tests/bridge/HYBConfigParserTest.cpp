#include "bridge/HYBConfigParser.h"

#include <gtest/gtest.h>

#include <fstream>

#include "bridge/HYBXMLParser.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"
#include "tests/support/TempDir.h"

namespace {

struct Parsed {
    HYBConfigParser config;
    bool ok;
};

std::unique_ptr<Parsed> parse(std::string xml) {
    auto parsed = std::make_unique<Parsed>();
    HYBXMLParser parser(std::move(xml));
    parser.setDelegate(&parsed->config);
    parsed->ok = parser.parse();
    return parsed;
}

TEST(HYBConfigParserTest, PreferencesAreCaseBlindAndLaterOnesWin) {
    auto p = parse(R"(<?xml version="1.0" encoding="UTF-8"?>
        <widget xmlns="http://www.w3.org/ns/widgets">
          <preference name="DisallowOverscroll" value="true"/>
          <preference name="Scheme" value="app"/>
          <preference name="scheme" value="myapp"/>
          <preference name="Gone" value="1"/>
          <preference name="gone"/>
          <preference value="nameless"/>
          <platform name="ios"><preference name="Nested" value="x"/></platform>
        </widget>)");
    ASSERT_TRUE(p->ok);
    EXPECT_EQ(
        p->config.settings(),
        (ns::Dictionary{{"disallowoverscroll", "true"}, {"scheme", "myapp"}, {"nested", "x"}}));
    EXPECT_TRUE(hybridBoolSettingForKey(p->config.settings(), "DISALLOWOVERSCROLL", false));
}

// Settings asked for between two documents read by one delegate: the second document's last
// word on a name replaces or removes what the first one built, the rest stays.
TEST(HYBConfigParserTest, ALaterDocumentChangesOnlyTheNamesItNames) {
    HYBConfigParser config;
    HYBXMLParser first(R"(<widget>
          <preference name="b" value="1"/><preference name="a" value="2"/>
          <preference name="B" value="3"/><preference name="d" value="4"/>
          <preference name="e" value="5"/><preference name="c" value="6"/>
        </widget>)");
    first.setDelegate(&config);
    ASSERT_TRUE(first.parse());
    EXPECT_EQ(config.settings(),
              (ns::Dictionary{{"a", "2"}, {"b", "3"}, {"c", "6"}, {"d", "4"}, {"e", "5"}}));
    HYBXMLParser second(R"(<widget>
          <preference name="D"/><preference name="f" value="7"/><preference name="A" value="8"/>
          <preference name="d" value="9"/><preference name="0" value="10"/>
          <preference name="E" value="11"/><preference name="e"/>
        </widget>)");
    second.setDelegate(&config);
    ASSERT_TRUE(second.parse());
    EXPECT_EQ(
        config.settings(),
        (ns::Dictionary{{"0", "10"}, {"a", "8"}, {"b", "3"}, {"c", "6"}, {"d", "9"}, {"f", "7"}}));
}

TEST(HYBConfigParserTest, FeaturesWithParamsAndOnload) {
    auto p = parse(R"(<widget>
          <feature name="Echo"><param name="ios-package" value="EchoPlugin"/></feature>
          <feature name="Net">
            <param name="IOS-Package" value="NetPlugin"/>
            <param name="onload" value="true"/>
          </feature>
          <feature name="Caps">
            <param name="ios-package" value="CapsPlugin"/>
            <param name="onload" value="True"/>
          </feature>
          <feature name="Attr">
            <param name="ios-package" value="AttrPlugin" onload="True"/>
          </feature>
          <feature name="Both">
            <param name="onload" value="true" onload="true"/>
          </feature>
          <feature><param name="ios-package" value="Orphan"/></feature>
          <param name="ios-package" value="Outside"/>
          <feature name="NoValue"><param name="ios-package"/><param value="x"/></feature>
        </widget>)");
    ASSERT_TRUE(p->ok);
    EXPECT_EQ(p->config.pluginsDict(), (HYBConfigParser::PluginMap{{"echo", "EchoPlugin"},
                                                                   {"net", "NetPlugin"},
                                                                   {"caps", "CapsPlugin"},
                                                                   {"attr", "AttrPlugin"}}));
    EXPECT_EQ(p->config.startupPluginNames(),
              (std::vector<std::string>{"net", "attr", "both", "both"}));
}

TEST(HYBConfigParserTest, ContentSource) {
    EXPECT_EQ(parse(R"(<widget><content src="main.html?x=1"/></widget>)")->config.startPage(),
              "main.html?x=1");
    EXPECT_FALSE(parse(R"(<widget><content/></widget>)")->config.startPage());
}

TEST(HYBConfigParserTest, MalformedDocumentKeepsWhatCameBeforeTheError) {
    auto p = parse(R"(<widget>
          <preference name="A" value="1"/>
          <feature name="F"><param name="ios-package" value="FPlugin"/></feature>
          <preference name="B" value="2"
        </widget>)");
    EXPECT_FALSE(p->ok);
    EXPECT_EQ(p->config.settings(), (ns::Dictionary{{"a", "1"}}));
    EXPECT_EQ(p->config.pluginsDict().at("f"), "FPlugin");
    EXPECT_FALSE(parse("")->ok);
    EXPECT_FALSE(parse("\xff\xfe garbage")->ok);
}

TEST(HYBConfigParserTest, ExternalEntitiesAreNeverRead) {
    testsupport::TempDir dir;
    std::ofstream(dir / "secret.txt") << "secret";
    auto p = parse("<!DOCTYPE widget [<!ENTITY x SYSTEM \"file://" + (dir / "secret.txt").string() +
                   "\">]><widget><preference name=\"a\" value=\"&x;\"/></widget>");
    for (const auto& [key, value] : p->config.settings()) {
        EXPECT_EQ(value.stringValue().find("secret"), std::string::npos);
    }
}

TEST(HYBConfigParserTest, ReadsAFile) {
    testsupport::TempDir dir;
    std::ofstream(dir / "config.xml") << R"(<widget><preference name="X" value="y"/></widget>)";
    auto parser = HYBXMLParser::parserWithContentsOfFile((dir / "config.xml").string());
    ASSERT_TRUE(parser);
    HYBConfigParser config;
    parser->setDelegate(&config);
    EXPECT_TRUE(parser->parse());
    EXPECT_EQ(config.settings(), (ns::Dictionary{{"x", "y"}}));
    EXPECT_FALSE(HYBXMLParser::parserWithContentsOfFile((dir / "missing.xml").string()));
}

// A file the host cannot start on is named with the line and column where its XML breaks off;
// one whose mistake comes only after its document element has nothing unread.
TEST(HYBConfigParserTest, ProblemsThatKeepTheFileFromBeingRead) {
    testsupport::TempDir dir;
    const std::string path = (dir / "config.xml").string();
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {R"({"widget": {"preference": []}})", ":1:1: not well-formed (invalid token)"},
        {"", ":1:1: no element found"},
        {"<widget>\n  <feature name=\"A\">\n    <param name=\"ios-package\" value=\"X\"/>\n",
         ":4:1: no element found"},
        {"<widget>\n  <preference name=\"a\" value=\"b\"\n</widget>\n",
         ":3:1: not well-formed (invalid token)"},
        {"<widget>\n  <preference name=\"a\" value=\"b\">\n</widget>\n", ":3:3: mismatched tag"},
        {"<widget/>\n<widget/>\n", std::nullopt},
        {"<widget><preference name=\"a\" value=\"b\"/></widget>", std::nullopt},
    };
    for (const auto& [text, problem] : cases) {
        SCOPED_TRACE(text);
        std::ofstream(path, std::ios::trunc) << text;
        EXPECT_EQ(HYBConfigParser::problemReading(path),
                  problem ? std::optional(path + *problem) : std::nullopt);
    }
    EXPECT_EQ(HYBConfigParser::problemReading((dir / "missing.xml").string()),
              (dir / "missing.xml").string() + ": cannot be read");
}

TEST(HybridPreferencesTest, BoolReader) {
    ns::Dictionary settings{{"t1", "TRUE"},
                            {"t2", "1"},
                            {"f1", "False"},
                            {"f2", "0"},
                            {"y", "yes"},
                            {"n1", 1},
                            {"n0", 0},
                            {"n2", 2},
                            {"b", true},
                            {"d", 1.0},
                            {"a", ns::Value::array({})}};
    testsupport::LogCapture log;
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "T1", false));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "t2", false));
    EXPECT_FALSE(hybridBoolSettingForKey(settings, "F1", true));
    EXPECT_FALSE(hybridBoolSettingForKey(settings, "f2", true));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "y", true));
    EXPECT_FALSE(hybridBoolSettingForKey(settings, "y", false));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "n1", false));
    EXPECT_FALSE(hybridBoolSettingForKey(settings, "n0", true));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "n2", true));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "b", false));
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "d", false));
    EXPECT_FALSE(hybridBoolSettingForKey(settings, "a", false));
    EXPECT_TRUE(log.texts().empty());
    EXPECT_TRUE(hybridBoolSettingForKey(settings, "Absent", true));
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{
                  "The preference key \"Absent\" is not defined and will default to \"TRUE\""});
}

TEST(HybridPreferencesTest, FloatReader) {
    ns::Dictionary settings{{"a", "12.5"}, {"b", "12px"}, {"c", "abc"}, {"d", " 7"}, {"e", 3}};
    EXPECT_EQ(hybridFloatSettingForKey(settings, "A", 1), 12.5);
    EXPECT_EQ(hybridFloatSettingForKey(settings, "b", 1), 12.0);
    EXPECT_EQ(hybridFloatSettingForKey(settings, "c", 1), 0.0);
    EXPECT_EQ(hybridFloatSettingForKey(settings, "d", 1), 7.0);
    EXPECT_EQ(hybridFloatSettingForKey(settings, "e", 1), 3.0);
    EXPECT_EQ(hybridFloatSettingForKey(settings, "absent", 250), 250.0);
    EXPECT_EQ(hybridFloatSettingForKey({{"x", "0.1"}}, "x", 0), static_cast<double>(0.1f));
}

TEST(HybridPreferencesTest, SetStoresUnderTheLowerCasedName) {
    ns::Dictionary settings;
    setHybridSetting(settings, "v", "MixedCase");
    EXPECT_EQ(settings, (ns::Dictionary{{"mixedcase", "v"}}));
    ASSERT_NE(hybridSettingForKey(settings, "MIXEDCASE"), nullptr);
    EXPECT_EQ(hybridSettingForKey(settings, "other"), nullptr);
}

}  // namespace
