#include "bridge/HYBIntentAndNavigationFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/ui/Application.h"
#include "tests/bridge/HostFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::LogCapture;

ns::URL url(const std::string& text) {
    return *ns::URL::parse(text);
}

constexpr const char* kInternalRejection =
    "ERROR Internal navigation rejected - <allow-navigation> not set for url='";
constexpr const char* kExternalRejection =
    "ERROR External navigation rejected - <allow-intent> not set for url='";

TEST(HYBIntentAndNavigationFilter, ClassifiesByBothListsNavigationFirst) {
    const HYBWhitelist intents({"https://*/*", "tel:*"});
    const HYBWhitelist navigations({"file://", "https://docs.example.com/*"});
    auto classify = [&](const char* text) {
        return HYBIntentAndNavigationFilter::filterUrl(url(text), &intents, &navigations);
    };
    EXPECT_EQ(classify("https://docs.example.com/a"), HYBFilterValueNavigationAllowed);
    EXPECT_EQ(classify("file:///x/y.html"), HYBFilterValueNavigationAllowed);
    EXPECT_EQ(classify("https://other.org/"), HYBFilterValueIntentAllowed);
    EXPECT_EQ(classify("tel:123"), HYBFilterValueIntentAllowed);
    EXPECT_EQ(classify("http://other.org/"), HYBFilterValueNoneAllowed);
    // Unset lists admit nothing.
    EXPECT_EQ(HYBIntentAndNavigationFilter::filterUrl(url("file:///x"), nullptr, nullptr),
              HYBFilterValueNoneAllowed);
}

TEST(HYBIntentAndNavigationFilter, OpensOutsideOnlyForTapsAndTopLevelDocuments) {
    using wk::NavigationType;
    wk::URLRequest request(url("https://other.org/"));
    EXPECT_TRUE(
        HYBIntentAndNavigationFilter::shouldOpenURLRequest(request, NavigationType::LinkActivated));
    EXPECT_FALSE(
        HYBIntentAndNavigationFilter::shouldOpenURLRequest(request, NavigationType::Other));
    request.setMainDocumentURL(url("https://other.org/"));
    EXPECT_TRUE(HYBIntentAndNavigationFilter::shouldOpenURLRequest(request, NavigationType::Other));
    request.setMainDocumentURL(url("file:///app/index.html"));  // a sub-frame of the page
    EXPECT_FALSE(
        HYBIntentAndNavigationFilter::shouldOpenURLRequest(request, NavigationType::Other));
    for (auto type : {NavigationType::FormSubmitted, NavigationType::BackForward,
                      NavigationType::Reload, NavigationType::FormResubmitted}) {
        EXPECT_FALSE(HYBIntentAndNavigationFilter::shouldOpenURLRequest(request, type));
    }
}

class FilterTest : public hosttest::HostFixture {
protected:
    void writeConfigWithFilter(const std::string& elements) {
        writeConfig(R"(<preference name="scheme" value="app"/>
            <feature name="IntentAndNavigationFilter">
                <param name="ios-package" value="HYBIntentAndNavigationFilter"/>
                <param name="onload" value="true"/>
            </feature>)" +
                    elements);
    }
    void startWith(const std::string& elements) {
        writeConfigWithFilter(elements);
        start();
        opened_ = ui::Application::shared().openedURLs().size();
    }
    std::shared_ptr<HYBIntentAndNavigationFilter> filter() const {
        return std::dynamic_pointer_cast<HYBIntentAndNavigationFilter>(
            controller_->getCommandInstance("IntentAndNavigationFilter"));
    }
    // The URLs handed to the system since the host started.
    std::vector<std::string> opened() const {
        std::vector<std::string> out;
        const auto all = ui::Application::shared().openedURLs();
        for (size_t i = opened_; i < all.size(); ++i) out.push_back(all[i].absoluteString());
        return out;
    }
    std::string navigate(const std::string& text,
                         wk::NavigationType type = wk::NavigationType::LinkActivated,
                         wk::FakeEngine::Target target = wk::FakeEngine::Target::MainFrame) {
        page().navigate(url(text), type, target);
        loop().runUntilIdle();
        return page().url() ? page().url()->absoluteString() : "";
    }

    size_t opened_ = 0;
};

TEST_F(FilterTest, ReadsItsListsWithTheLocalDefaultsFirst) {
    startWith(R"(<allow-navigation href="https://docs.example.com/*"/>
                 <allow-intent href="tel:*"/><allow-intent/>)");
    EXPECT_EQ(filter()->allowNavigations(),
              (std::vector<std::string>{"file://", "app://", "https://docs.example.com/*"}));
    EXPECT_EQ(filter()->allowIntents(), std::vector<std::string>{"tel:*"});
    EXPECT_TRUE(filter()->allowNavigationsWhitelist());
    EXPECT_TRUE(filter()->allowIntentsWhitelist());
}

TEST_F(FilterTest, LocalPagesLoadAndUnlistedWebPagesAreRefused) {
    writeFile("www/other.html", "<title>Other</title>");
    startWith("");
    EXPECT_EQ(page().url()->absoluteString(), "app://localhost/index.html");
    EXPECT_EQ(navigate("app://localhost/other.html"), "app://localhost/other.html");

    LogCapture log;
    log.expect(kInternalRejection).expect(kExternalRejection);
    EXPECT_EQ(navigate("https://example.com/"), "app://localhost/other.html");
    EXPECT_EQ(log.count(kInternalRejection), 1u);
    EXPECT_EQ(log.count(kExternalRejection), 1u);
    EXPECT_TRUE(opened().empty());

    log.clear();
    navigate("https://example.com/", wk::NavigationType::Other);
    EXPECT_EQ(log.count(kInternalRejection), 1u);
    EXPECT_EQ(log.count(kExternalRejection), 0u);
}

TEST_F(FilterTest, IntentOnlyLinkOpensOutsideAndThePageStays) {
    startWith(R"(<allow-intent href="https://*/*"/>)");
    EXPECT_EQ(navigate("https://example.com/a"), "app://localhost/index.html");
    EXPECT_EQ(opened(), std::vector<std::string>{"https://example.com/a"});
}

TEST_F(FilterTest, ScriptReplacingTheDocumentWithAnIntentOpensItOutside) {
    startWith(R"(<allow-intent href="https://*/*"/>)");
    EXPECT_EQ(navigate("https://example.com/b", wk::NavigationType::Other),
              "app://localhost/index.html");
    EXPECT_EQ(opened(), std::vector<std::string>{"https://example.com/b"});
}

TEST_F(FilterTest, IntentOnlyLoadsThatAreNoTapAreNeitherLoadedNorOpened) {
    startWith(R"(<allow-intent href="https://*/*"/>)");
    LogCapture log;
    navigate("https://example.com/form", wk::NavigationType::FormSubmitted);
    navigate("https://example.com/frame", wk::NavigationType::Other,
             wk::FakeEngine::Target::SubFrame);
    EXPECT_EQ(page().url()->absoluteString(), "app://localhost/index.html");
    EXPECT_TRUE(opened().empty());
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(FilterTest, NavigationWinsOverIntent) {
    startWith(R"(<allow-navigation href="https://example.com/*"/>
                 <allow-intent href="https://example.com/*"/>)");
    EXPECT_EQ(navigate("https://example.com/a"), "https://example.com/a");
    EXPECT_TRUE(opened().empty());
}

// A file damaged part way (here an external entity in a late attribute) is reported with its
// line; what came before the damage stands, and the application's own pages still load.
TEST_F(FilterTest, DamagedConfigurationKeepsWhatWasReadAndTheAppsOwnPages) {
    writeFile("www/other.html", "<title>Other</title>");
    writeFile("config.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE widget [<!ENTITY outside SYSTEM "file:///etc/passwd">]>
<widget id="test" version="1">
    <preference name="scheme" value="app"/>
    <feature name="IntentAndNavigationFilter">
        <param name="ios-package" value="HYBIntentAndNavigationFilter"/>
        <param name="onload" value="true"/>
    </feature>
    <allow-navigation href="https://docs.example.com/*"/>
    <preference name="late" value="&outside;"/>
</widget>
)");
    LogCapture log;
    log.expect("config.xml:10:");
    start();
    EXPECT_TRUE(log.contains("config.xml:10:"));
    EXPECT_TRUE(log.contains("(the file could not be read in full)"));
    EXPECT_EQ(page().url()->absoluteString(), "app://localhost/index.html");
    EXPECT_EQ(navigate("app://localhost/other.html"), "app://localhost/other.html");
    EXPECT_EQ(navigate("https://docs.example.com/a"), "https://docs.example.com/a");
}

// The controller and the filter both read the file: a mistake after its document element is
// logged once, with where it stands and that it cost nothing, and neither loses what came
// before it.
TEST_F(FilterTest, MistakeAfterTheDocumentElementIsLoggedOnce) {
    writeConfigWithFilter(R"(<allow-navigation href="https://docs.example.com/*"/>)");
    const std::string config = bundlePath() + "/config.xml";
    std::ifstream written(config);
    const auto lines = std::count(std::istreambuf_iterator<char>(written), {}, '\n');
    std::ofstream(config, std::ios::app) << "<junk/>\n";
    const std::string line = "ERROR: " + config + ":" + std::to_string(lines + 1) +
                             ":1: junk after document element (ignored: the document element "
                             "was read in full)";
    LogCapture log;
    log.expect(line);
    start();
    EXPECT_EQ(log.count("junk after document element"), 1u);
    EXPECT_EQ(log.count(line), 1u);
    EXPECT_EQ(navigate("https://docs.example.com/a"), "https://docs.example.com/a");
}

TEST_F(FilterTest, UnreadableConfigurationAdmitsNothing) {
    writeFile("www/other.html", "<title>Other</title>");
    startWith("");
    LogCapture log;
    log.expect(kInternalRejection).expect(kExternalRejection);
    auto filter = std::make_shared<HYBIntentAndNavigationFilter>();
    controller_->setConfigFile(bundlePath() + "/missing.xml");
    controller_->registerPlugin(filter, "ZFilter");
    EXPECT_FALSE(filter->allowNavigationsWhitelist());
    EXPECT_EQ(filter->filterUrl(url("app://localhost/other.html")), HYBFilterValueNoneAllowed);
    EXPECT_EQ(navigate("app://localhost/other.html"), "app://localhost/index.html");
}

}  // namespace
