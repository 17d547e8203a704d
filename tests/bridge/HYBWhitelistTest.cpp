#include "bridge/HYBWhitelist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/LogCapture.h"

namespace {

ns::URL url(const std::string& text) {
    auto u = ns::URL::parse(text);
    EXPECT_TRUE(u) << text;
    return u ? *u : *ns::URL::parse("about:blank");
}

struct AdmissionCase {
    std::vector<std::string> entries;
    std::string url;
    bool allowed;
};

class WhitelistAdmission : public ::testing::TestWithParam<AdmissionCase> {};

TEST_P(WhitelistAdmission, AdmitsExactlyWhatTheEntriesName) {
    const auto& c = GetParam();
    HYBWhitelist list(c.entries);
    EXPECT_EQ(list.URLIsAllowed(url(c.url), false), c.allowed)
        << c.url << " against " << ::testing::PrintToString(c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, WhitelistAdmission,
    ::testing::Values(
        // No scheme: http and https, same host, port and path.
        AdmissionCase{{"example.com"}, "http://example.com/a", true},
        AdmissionCase{{"example.com"}, "https://example.com", true},
        AdmissionCase{{"example.com"}, "ftp://example.com", false},
        AdmissionCase{{"example.com"}, "http://www.example.com", false},
        // Host and scheme compare without regard to letter case.
        AdmissionCase{{"https://Example.COM"}, "HTTPS://example.com/", true},
        // Sub-domain wildcard: the bare name, any sub-domain, any case.
        AdmissionCase{{"*.example.com"}, "https://example.com", true},
        AdmissionCase{{"*.example.com"}, "https://a.b.EXAMPLE.com", true},
        AdmissionCase{{"*.example.com"}, "https://badexample.com", false},
        AdmissionCase{{"*.example.com"}, "https://a_b.example.com", false},
        // Ports: a stated port must be in the URL, even the scheme's default one.
        AdmissionCase{{"http://example.com:8080"}, "http://example.com:8080/x", true},
        AdmissionCase{{"http://example.com:8080"}, "http://example.com/x", false},
        AdmissionCase{{"http://example.com:80"}, "http://example.com/x", false},
        AdmissionCase{{"http://example.com:0080"}, "http://example.com:80/x", true},
        // A port no URL can have makes the entry void rather than matching something else.
        AdmissionCase{{"http://example.com:65536"}, "http://example.com:0/", false},
        AdmissionCase{{"http://example.com:99999999999999999999"}, "http://example.com/", false},
        // Paths: "/*" means any; "/dir/*" also the folder itself; wildcards inside.
        AdmissionCase{{"https://example.com/*"}, "https://example.com", true},
        AdmissionCase{{"https://example.com/docs/*"}, "https://example.com/docs", true},
        AdmissionCase{{"https://example.com/docs/*"}, "https://example.com/docs/", true},
        AdmissionCase{{"https://example.com/docs/*"}, "https://example.com/docs/a/b", true},
        AdmissionCase{{"https://example.com/docs/*"}, "https://example.com/docsx", false},
        AdmissionCase{{"https://example.com/a*c"}, "https://example.com/abbbc", true},
        AdmissionCase{{"https://example.com/a*c"}, "https://example.com/abbbd", false},
        AdmissionCase{{"https://example.com/Docs"}, "https://example.com/docs", false},
        // A wildcard never runs over a line break, which a decoded path can hold.
        AdmissionCase{{"https://example.com/a/*"}, "https://example.com/a/x%0Ay", false},
        // Dots in a pattern are themselves, not "any character".
        AdmissionCase{{"https://example.com/a.b"}, "https://example.com/axb", false},
        // file:// alone: any host, any path.
        AdmissionCase{{"file://"}, "file:///var/app/www/index.html", true},
        AdmissionCase{{"file://"}, "http://example.com", false},
        // A custom scheme entry, as the navigation filter adds for the bundle.
        AdmissionCase{{"app://"}, "app://localhost/index.html", true},
        AdmissionCase{{"app://"}, "myapp://localhost/index.html", false},
        // A scheme no entry names is refused before any pattern is tried.
        AdmissionCase{{"example.com"}, "tel:123", false}, AdmissionCase{{"tel:*"}, "tel:123", true},
        // Capital letters in an entry's scheme: the set keeps them, URLs are lower-cased.
        AdmissionCase{{"Custom://x"}, "custom://x", false},
        // Entries of the default scheme admit web URLs by host and path.
        AdmissionCase{{"hyb-default-scheme://example.com/*"}, "https://example.com/p", true},
        AdmissionCase{{"hyb-default-scheme://example.com/*"}, "mailto:a@example.com", false},
        // Entries that name nothing are dropped instead of admitting every web page.
        AdmissionCase{{""}, "https://example.com", false},
        AdmissionCase{{"#"}, "https://example.com", false},
        // Everything after "*" is ignored, and "*" drops what came before.
        AdmissionCase{{"*", "example.com"}, "mailto:x@y", true},
        AdmissionCase{{"example.com", "*"}, "ftp://other.org", true}));

TEST(HYBWhitelist, EntryWithoutSchemeGivesHttpAndHttpsPatternsAndNoPermittedScheme) {
    HYBWhitelist list({"example.com"});
    ASSERT_TRUE(list.whitelist());
    EXPECT_EQ(list.whitelist()->size(), 2u);
    ASSERT_TRUE(list.permittedSchemes());
    EXPECT_TRUE(list.permittedSchemes()->empty());
}

TEST(HYBWhitelist, StarEntryWidensToEverythingAndIsLogged) {
    testsupport::LogCapture log;
    HYBWhitelist list({"example.com", "*", "other.org"});
    EXPECT_FALSE(list.whitelist());
    EXPECT_FALSE(list.permittedSchemes());
    EXPECT_TRUE(log.contains("Unlimited access to network resources"));
    EXPECT_TRUE(list.schemeIsAllowed("anything"));
}

TEST(HYBWhitelist, SchemesJoinThePermittedSetAsWritten) {
    HYBWhitelist list({"file://", "Custom://x", "*://y"});
    EXPECT_FALSE(list.permittedSchemes());  // "*" as a scheme lifts the scheme test

    HYBWhitelist narrow({"file://", "Custom://x"});
    ASSERT_TRUE(narrow.permittedSchemes());
    EXPECT_EQ(*narrow.permittedSchemes(), (std::set<std::string, std::less<>>{"Custom", "file"}));
    for (const char* web : {"http", "https", "ftp", "ftps"}) {
        EXPECT_TRUE(narrow.schemeIsAllowed(web)) << web;
    }
    EXPECT_FALSE(narrow.schemeIsAllowed("custom"));
}

TEST(HYBWhitelist, RejectionIsLoggedOnlyWhenAsked) {
    HYBWhitelist list({"example.com"});
    testsupport::LogCapture log;
    EXPECT_FALSE(list.URLIsAllowed(url("https://evil.org/x"), false));
    EXPECT_TRUE(log.texts().empty());
    log.expect("ERROR whitelist rejection: url='https://evil.org/x'");
    EXPECT_FALSE(list.URLIsAllowed(url("https://evil.org/x")));
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"ERROR whitelist rejection: url='https://evil.org/x'"});
}

TEST(HYBWhitelist, RecognisesDottedQuadsWithWildcards) {
    for (const char* yes : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "10.*.0.1", "010.1.1.1"}) {
        EXPECT_TRUE(HYBWhitelist::isIPv4Address(yes)) << yes;
    }
    for (const char* no : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "", "-1.2.3.4",
                           "1.2.3.99999999999999999999"}) {
        EXPECT_FALSE(HYBWhitelist::isIPv4Address(no)) << no;
    }
}

TEST(HYBWhitelist, LongNearMissAgainstManyWildcardsIsDecided) {
    // A backtracking matcher needs time exponential in the wildcards for this near miss and
    // would not come back; the position-set matcher walks the path once.
    HYBWhitelist list({"https://example.com/*a*a*a*a*a*a*a*a*a*a*a*a*b"});
    EXPECT_FALSE(list.URLIsAllowed(url("https://example.com/" + std::string(200000, 'a')), false));
    EXPECT_TRUE(
        list.URLIsAllowed(url("https://example.com/" + std::string(5000, 'a') + "b"), false));
}

}  // namespace
