#include "platform/gtk/WebKitGtkMainFrameGate.h"

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

#include "platform/gtk/GObjectRef.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Sandbox.h"
#include "tests/support/TempDir.h"

namespace {

// Compiles the rule list with the engine's own compiler; the error it reports, if any.
std::optional<std::string> compileError(const std::string& rules) {
    testsupport::TempDir folder;
    WebKitUserContentFilterStore* store =
        webkit_user_content_filter_store_new(folder.str().c_str());
    struct Outcome {
        bool done = false;
        std::optional<std::string> error;
    } outcome;
    GBytes* source = g_bytes_new(rules.data(), rules.size());
    webkit_user_content_filter_store_save(
        store, "rules", source, nullptr,
        [](GObject* from, GAsyncResult* result, gpointer data) {
            auto* outcome = static_cast<Outcome*>(data);
            GError* error = nullptr;
            WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
                WEBKIT_USER_CONTENT_FILTER_STORE(from), result, &error);
            if (filter) webkit_user_content_filter_unref(filter);
            if (error) {
                outcome->error = error->message;
                g_error_free(error);
            }
            outcome->done = true;
        },
        &outcome);
    g_bytes_unref(source);
    while (!outcome.done) g_main_context_iteration(nullptr, TRUE);
    g_object_unref(store);
    return outcome.error;
}

// Every address WebKit can hand over makes a list the engine accepts: a rule it refused would
// leave the gate without its exception, and the passed page would never load.
TEST(WebKitGtkMainFrameGate, RulesCompileForEveryAddress) {
    const std::string addresses[] = {
        "http://127.0.0.1:8080/",
        "https://site.test/a/b.html?q=1&r=%20x#frag",
        "https://site.test/[x]{y}(z)|a^b$c*d+e.f?g\\h",
        "https://user:pw@site.test:443/~me/!'();,=@:/",
        "https://site.test/" + std::string(3 * wk::WebKitGtkMainFrameGate::kLongestPattern, 'x'),
    };
    EXPECT_EQ(compileError(wk::WebKitGtkMainFrameGate::rules(std::nullopt)), std::nullopt);
    for (const auto& address : addresses) {
        SCOPED_TRACE(address.substr(0, 80));
        EXPECT_EQ(compileError(wk::WebKitGtkMainFrameGate::rules(address)), std::nullopt);
    }
}

// The exception names one document: every character of the address is taken as itself, so that
// neither another address nor one that merely begins like it passes, and a fragment may follow.
TEST(WebKitGtkMainFrameGate, TheExceptionMatchesItsAddressAlone) {
    using Gate = wk::WebKitGtkMainFrameGate;
    EXPECT_EQ(Gate::exactPattern("http://a.test/p?x=1#top"),
              "^http\\:\\/\\/a\\.test\\/p\\?x\\=1(#.*)?$");
    // Past the longest pattern, the address's beginning is matched.
    const std::string longAddress = "https://a.test/" + std::string(Gate::kLongestPattern, 'y');
    const std::string pattern = Gate::exactPattern(longAddress);
    EXPECT_EQ(pattern.back(), 'y');
    EXPECT_EQ(pattern.size(), 1 + Gate::kLongestPattern + 5);  // "^", the address, 5 escapes
}

// Whether the rule list lets a top-frame document of `url` load, read as the engine reads it:
// rules in order, each trigger's pattern a regular expression, letter case ignored unless the
// rule says otherwise; a block holds the load, a later "ignore-previous-rules" lets it go.
bool letsThrough(const std::string& rules, const std::string& url) {
    const auto list = ns::JSONSerialization::read(rules);
    EXPECT_TRUE(list && list->isArray()) << rules.substr(0, 200);
    if (!list || !list->isArray()) return false;
    bool blocked = false;
    for (const ns::Value& rule : *list->array()) {
        const ns::Value& trigger = rule["trigger"];
        const bool caseSensitive = trigger["url-filter-is-case-sensitive"] == ns::Value(true);
        const std::string pattern = trigger["url-filter"].stringValue();
        if (!g_regex_match_simple(pattern.c_str(), url.c_str(),
                                  caseSensitive ? GRegexCompileFlags(0) : G_REGEX_CASELESS,
                                  GRegexMatchFlags(0))) {
            continue;
        }
        const std::string action = rule["action"]["type"].stringValue();
        if (action == "block") blocked = true;
        if (action == "ignore-previous-rules") blocked = false;
    }
    return !blocked;
}

// A pass lets its own document through and nothing else: not an address that merely begins
// like it (however long the passed one is, up to the longest pattern), nor one that differs
// from it in the letter case of its path, which names another document. Its fragments may
// follow.
TEST(WebKitGtkMainFrameGate, APassLetsItsOwnDocumentThroughAlone) {
    using Gate = wk::WebKitGtkMainFrameGate;
    const std::string held = Gate::rules(std::nullopt);
    EXPECT_FALSE(letsThrough(held, "https://site.test/a"));
    EXPECT_FALSE(letsThrough(held, "HTTP://site.test/a"));
    EXPECT_TRUE(letsThrough(held, "app://localhost/index.html"));

    const std::string site = "https://site.test/";
    const std::string longest = site + std::string(Gate::kLongestPattern - site.size(), 'p');
    ASSERT_EQ(longest.size(), Gate::kLongestPattern);
    for (const std::string& passed : {site + "Page?q=1", longest}) {
        SCOPED_TRACE(passed.substr(0, 40) + "... of " + std::to_string(passed.size()));
        const std::string rules = Gate::rules(passed);
        EXPECT_TRUE(letsThrough(rules, passed));
        EXPECT_TRUE(letsThrough(rules, passed + "#top"));
        EXPECT_FALSE(letsThrough(rules, passed + "x"));
        EXPECT_FALSE(letsThrough(rules, passed + "/next"));
        EXPECT_FALSE(letsThrough(rules, site + "page?q=1"));
        EXPECT_FALSE(letsThrough(rules, "https://other.test/"));
    }
    // Past the longest pattern only the beginning can be matched: the pass still names its
    // first kLongestPattern characters exactly.
    const std::string longer = longest + "tail";
    const std::string rules = Gate::rules(longer);
    EXPECT_TRUE(letsThrough(rules, longer));
    EXPECT_FALSE(letsThrough(rules, site + "q" + longer.substr(site.size() + 1)));
}

// WebKit reports the load the gate held back as blocked by a content rule, in the policy
// domain; no other load failure, of that domain or another, is taken for the gate's.
TEST(WebKitGtkMainFrameGate, ItsOwnRefusalIsRecognised) {
    using Gate = wk::WebKitGtkMainFrameGate;
    const auto failure = [](GQuark domain, int code) {
        GError* error = g_error_new_literal(domain, code, "failed");
        const bool refusal = Gate::isRefusal(error);
        g_error_free(error);
        return refusal;
    };
    EXPECT_TRUE(failure(WEBKIT_POLICY_ERROR, 104));
    EXPECT_FALSE(Gate::isRefusal(nullptr));
    for (int other : {WEBKIT_POLICY_ERROR_FAILED, WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE,
                      WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI,
                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE,
                      WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT, WebKitPolicyError(105)}) {
        EXPECT_FALSE(failure(WEBKIT_POLICY_ERROR, other)) << other;
    }
    EXPECT_FALSE(failure(WEBKIT_NETWORK_ERROR, 104));
    EXPECT_FALSE(failure(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED));
}

// The gate's rule lists are compiled in the sandbox's caches: one sandbox for the process, as
// the lists are kept for it.
class MainFrameGateRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static testsupport::TempDir sandbox;
        ASSERT_TRUE(ns::Sandbox::configure(sandbox.str()).ok());
    }
    // Runs GLib's loop until `done` holds.
    template <class Predicate>
    static void until(Predicate done) {
        while (!done()) g_main_context_iteration(nullptr, TRUE);
    }
};

// A pass that a later one replaced before its rules were made installs nothing: the later
// pass's rules stay in force, and the earlier one is told it will not be let through.
TEST_F(MainFrameGateRules, APassReplacedByALaterOneInstallsNoRules) {
    using Gate = wk::WebKitGtkMainFrameGate;
    auto manager =
        wk::GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    Gate gate(manager.get());
    until([&] { return gate.rulesInForce().has_value(); });
    EXPECT_EQ(gate.rulesInForce(), Gate::rules(std::nullopt));

    // The later pass's list is made already, so it is in place at once; the earlier one's is
    // still being made.
    const std::string later = "https://site.test/later";
    std::optional<bool> laterReady;
    gate.pass(later, [&](bool ready) { laterReady = ready; });
    until([&] { return laterReady.has_value(); });
    gate.close();
    until([&] { return gate.rulesInForce() == Gate::rules(std::nullopt); });

    std::optional<bool> earlierReady;
    laterReady.reset();
    // An address of this run alone, so that its list is not made yet.
    static int runs = 0;
    const std::string earlier = "https://site.test/earlier/" + std::to_string(++runs);
    gate.pass(earlier, [&](bool ready) { earlierReady = ready; });
    EXPECT_FALSE(earlierReady.has_value());
    gate.pass(later, [&](bool ready) { laterReady = ready; });
    EXPECT_EQ(laterReady, true);
    until([&] { return earlierReady.has_value(); });
    EXPECT_EQ(earlierReady, false);
    EXPECT_EQ(gate.rulesInForce(), Gate::rules(later));
}

TEST(WebKitGtkMainFrameGate, OnlyWebAddressesAreGated) {
    using Gate = wk::WebKitGtkMainFrameGate;
    EXPECT_TRUE(Gate::isGated("http://a.test/"));
    EXPECT_TRUE(Gate::isGated("HTTPS://a.test/"));
    EXPECT_FALSE(Gate::isGated("app://localhost/index.html"));
    EXPECT_FALSE(Gate::isGated("data:text/html,x"));
    EXPECT_FALSE(Gate::isGated("httpx://a.test/"));
}

}  // namespace
