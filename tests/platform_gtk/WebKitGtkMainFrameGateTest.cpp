#include "platform/gtk/WebKitGtkMainFrameGate.h"

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

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

TEST(WebKitGtkMainFrameGate, OnlyWebAddressesAreGated) {
    using Gate = wk::WebKitGtkMainFrameGate;
    EXPECT_TRUE(Gate::isGated("http://a.test/"));
    EXPECT_TRUE(Gate::isGated("HTTPS://a.test/"));
    EXPECT_FALSE(Gate::isGated("app://localhost/index.html"));
    EXPECT_FALSE(Gate::isGated("data:text/html,x"));
    EXPECT_FALSE(Gate::isGated("httpx://a.test/"));
}

}  // namespace
