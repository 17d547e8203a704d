#include "platform/ns/URL.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ns/URLComponents.h"

namespace {

using ns::URL;
using Opt = std::optional<std::string>;
constexpr std::nullopt_t N = std::nullopt;

struct AccessorRow {
    const char* text;
    Opt scheme, user, password, host;
    std::optional<int> port;
    std::string path;
    Opt query, fragment;
    std::string last, extension;
};

// clang-format off
const AccessorRow kAccessorRows[] = {
    {"http://user:pw@example.com:8080/a/b.html?x=1&y=2#top",
        "http", "user", "pw", "example.com", 8080, "/a/b.html", "x=1&y=2", "top", "b.html", "html"},
    {"http://[::1]:8080/", "http", N, N, "::1", 8080, "/", N, N, "/", ""},
    {"http://[v1.fe80::a+b]/x", "http", N, N, "v1.fe80::a+b", N, "/x", N, N, "x", ""},
    {"https://EXAMPLE.com", "https", N, N, "EXAMPLE.com", N, "", N, N, "", ""},
    {"HTTP://h/", "HTTP", N, N, "h", N, "/", N, N, "/", ""},
    {"file:///tmp/a%20b.txt", "file", N, N, "", N, "/tmp/a b.txt", N, N, "a b.txt", "txt"},
    {"file:///a/b/", "file", N, N, "", N, "/a/b", N, N, "b", ""},
    {"app://localhost/index.html", "app", N, N, "localhost", N, "/index.html", N, N, "index.html",
        "html"},
    {"hybfile://localhost/persistent/a%20b.txt?x=%20", "hybfile", N, N, "localhost", N,
        "/persistent/a b.txt", "x=%20", N, "a b.txt", "txt"},
    {"assets-library://asset/asset.JPG?id=1&ext=JPG", "assets-library", N, N, "asset", N,
        "/asset.JPG", "id=1&ext=JPG", N, "asset.JPG", "JPG"},
    {"mailto:a@b.com", "mailto", N, N, N, N, "a@b.com", N, N, "a@b.com", "com"},
    {"tel:+1-555-0100", "tel", N, N, N, N, "+1-555-0100", N, N, "+1-555-0100", ""},
    {"data:text/plain;base64,SGVsbG8=", "data", N, N, N, N, "text/plain;base64,SGVsbG8=", N, N,
        "plain;base64,SGVsbG8=", ""},
    {"about:blank", "about", N, N, N, N, "blank", N, N, "blank", ""},
    {"http://h/p?", "http", N, N, "h", N, "/p", "", N, "p", ""},
    {"http://h/p#", "http", N, N, "h", N, "/p", N, "", "p", ""},
    {"http://h/p?#", "http", N, N, "h", N, "/p", "", "", "p", ""},
    {"http://h/a%2Fb/", "http", N, N, "h", N, "/a/b", N, N, "a/b", ""},
    {"http://h/%E2%82%AC", "http", N, N, "h", N, "/\xE2\x82\xAC", N, N, "\xE2\x82\xAC", ""},
    {"http://h/%FF", "http", N, N, "h", N, "/%FF", N, N, "%FF", ""},
    {"http://h:/x", "http", N, N, "h", N, "/x", N, N, "x", ""},
    {"http://h:0080/", "http", N, N, "h", 80, "/", N, N, "/", ""},
    {"http://h:65535/", "http", N, N, "h", 65535, "/", N, N, "/", ""},
    {"http://h:0/", "http", N, N, "h", 0, "/", N, N, "/", ""},
    {"http://@h/", "http", "", N, "h", N, "/", N, N, "/", ""},
    {"http://u%20v:p%40x@h/", "http", "u v", "p%40x", "h", N, "/", N, N, "/", ""},
    {"http://%68ost/", "http", N, N, "host", N, "/", N, N, "/", ""},
    {"http:///x", "http", N, N, "", N, "/x", N, N, "x", ""},
    {"//h/p", N, N, N, "h", N, "/p", N, N, "p", ""},
    {"index.html?x=1#top", N, N, N, N, N, "index.html", "x=1", "top", "index.html", "html"},
    {"http://h/.hidden", "http", N, N, "h", N, "/.hidden", N, N, ".hidden", ""},
    {"http://h/name.", "http", N, N, "h", N, "/name.", N, N, "name.", ""},
    {"http://h/a.tar.gz", "http", N, N, "h", N, "/a.tar.gz", N, N, "a.tar.gz", "gz"},
    {"x-dsauth-app://auth", "x-dsauth-app", N, N, "auth", N, "", N, N, "", ""},
    // Brackets in the path and query and a second "#" are what web engines produce.
    {"http://h/a[1]?q[]=1#f#g", "http", N, N, "h", N, "/a[1]", "q[]=1", "f#g", "a[1]", ""},
    {"http:", "http", N, N, N, N, "", N, N, "", ""},
};
// clang-format on

TEST(URL, AccessorsFollowThePlatformRules) {
    for (const auto& row : kAccessorRows) {
        SCOPED_TRACE(row.text);
        auto url = URL::parse(row.text);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->absoluteString(), row.text);
        EXPECT_EQ(url->scheme(), row.scheme);
        EXPECT_EQ(url->user(), row.user);
        EXPECT_EQ(url->password(), row.password);
        EXPECT_EQ(url->host(), row.host);
        EXPECT_EQ(url->port(), row.port);
        EXPECT_EQ(url->path(), row.path);
        EXPECT_EQ(url->query(), row.query);
        EXPECT_EQ(url->fragment(), row.fragment);
        EXPECT_EQ(url->lastPathComponent(), row.last);
        EXPECT_EQ(url->pathExtension(), row.extension);
        EXPECT_EQ(ns::URLComponents(*url).string(), row.text);
    }
}

TEST(URL, InvalidTextsGiveNoURL) {
    const char* invalid[] = {
        "",
        "http://h/a b",
        "http://h/\"",
        "http://h/<",
        "http://h/>",
        "http://h/\\",
        "http://h/^",
        "http://h/`",
        "http://h/{",
        "http://h/|",
        "http://h/}",
        "http://h/\t",
        "http://h/\x7f",
        "http://h/\xC3\xA9",
        "http://h/%",
        "http://h/%4",
        "http://h/%zz",
        "http://h:99999/",
        "http://h:65536/",
        "http://h:-1/",
        "http://h:8a/",
        "http://h:1:2/",
        "http://[::1/",
        "http://[zz]/",
        "http://[::1]x/",
        "http://[::1%25eth0]/",
        "http://[v1]/",
        "http://a@b@c/",
        "http://h[1]/",
        "http://u[x]@h/",
        "1a:b",
        ":x",
    };
    for (const char* text : invalid) EXPECT_FALSE(URL::parse(text)) << text;
    EXPECT_FALSE(URL::parse(std::string_view("http://h/\0", 10)));
}

// Addresses from a lenient parser keep their text: only what a URL cannot hold is encoded.
TEST(URL, LenientParsingEncodesOnlyWhatAURLCannotHold) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"evilscheme://x/a\\b", "evilscheme://x/a%5Cb"},
        {"evilscheme://x/%zz", "evilscheme://x/%25zz"},
        {"http://h/%4", "http://h/%254"},
        {"http://h/100%", "http://h/100%25"},
        {"mailto:a`b@example.com", "mailto:a%60b@example.com"},
        {"sms:123|456", "sms:123%7C456"},
        {"http://h/a b?q=\"x\"#f{}", "http://h/a%20b?q=%22x%22#f%7B%7D"},
        {"http://h/caf\xC3\xA9\t", "http://h/caf%C3%A9%09"},
        {"http://h[1]/p[2]", "http://h%5B1%5D/p%5B2%5D"},
        {std::string_view("x:a\0b", 5), "x:a%00b"},
        // Valid texts stay exactly as they are.
        {"http://[::1]:8/p%20q?a=[b]#c", "http://[::1]:8/p%20q?a=[b]#c"},
        {"https://example.com/", "https://example.com/"},
    };
    for (const auto& [text, expected] : cases) {
        auto url = URL::parseEncodingInvalidCharacters(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(url->absoluteString(), expected) << text;
    }
    for (const char* text : {"", "http://h:99999/", "http://h:8a/", "1a:b"})
        EXPECT_FALSE(URL::parseEncodingInvalidCharacters(text)) << text;
}

TEST(URL, OtherAccessors) {
    auto url = URL::parse("hybfile://localhost/a?b");
    EXPECT_EQ(url->resourceSpecifier(), "//localhost/a?b");
    EXPECT_EQ(URL::parse("HYBFILE://localhost/a?b")->resourceSpecifier(), "//localhost/a?b");
    EXPECT_EQ(URL::parse("mailto:a@b")->resourceSpecifier(), "a@b");
    EXPECT_EQ(URL::parse("x/y")->resourceSpecifier(), "x/y");

    EXPECT_TRUE(URL::parse("FILE:///x")->isFileURL());
    EXPECT_FALSE(URL::parse("files:///x")->isFileURL());
    EXPECT_FALSE(URL::parse("http://h/x")->isFileURL());

    EXPECT_TRUE(URL::parse("http://h/a/")->hasDirectoryPath());
    EXPECT_FALSE(URL::parse("http://h/a")->hasDirectoryPath());
    EXPECT_FALSE(URL::parse("http://h")->hasDirectoryPath());

    EXPECT_EQ(*URL::parse("http://h/a"), *URL::parse("http://h/a"));
    EXPECT_FALSE(*URL::parse("http://h/a") == *URL::parse("HTTP://h/a"));
}

TEST(URL, PathComponents) {
    using V = std::vector<std::string>;
    EXPECT_EQ(URL::parse("http://h/a/b")->pathComponents(), (V{"/", "a", "b"}));
    EXPECT_EQ(URL::parse("http://h/a//b/")->pathComponents(), (V{"/", "a", "b"}));
    EXPECT_EQ(URL::parse("http://h/")->pathComponents(), (V{"/"}));
    EXPECT_EQ(URL::parse("http://h")->pathComponents(), V{});
    EXPECT_EQ(URL::parse("a/b")->pathComponents(), (V{"a", "b"}));
    EXPECT_EQ(URL::parse("http://h/a%2Fb/%20")->pathComponents(), (V{"/", "a/b", " "}));
    EXPECT_EQ(URL::parse("hybfile://localhost")->pathComponents(), V{});
    EXPECT_EQ(URL::parse("hybfile://localhost/persistent/")->pathComponents(),
              (V{"/", "persistent"}));
}

struct ResolveRow {
    const char* reference;
    const char* expected;
};

// RFC 3986 section 5.4, against its base "http://a/b/c/d;p?q".
const ResolveRow kResolveRows[] = {
    {"g:h", "g:h"},
    {"g", "http://a/b/c/g"},
    {"./g", "http://a/b/c/g"},
    {"g/", "http://a/b/c/g/"},
    {"/g", "http://a/g"},
    {"//g", "http://g"},
    {"?y", "http://a/b/c/d;p?y"},
    {"g?y", "http://a/b/c/g?y"},
    {"#s", "http://a/b/c/d;p?q#s"},
    {"g#s", "http://a/b/c/g#s"},
    {"g?y#s", "http://a/b/c/g?y#s"},
    {";x", "http://a/b/c/;x"},
    {"g;x", "http://a/b/c/g;x"},
    {"g;x?y#s", "http://a/b/c/g;x?y#s"},
    {"", "http://a/b/c/d;p?q"},
    {".", "http://a/b/c/"},
    {"./", "http://a/b/c/"},
    {"..", "http://a/b/"},
    {"../", "http://a/b/"},
    {"../g", "http://a/b/g"},
    {"../..", "http://a/"},
    {"../../", "http://a/"},
    {"../../g", "http://a/g"},
    // Abnormal examples.
    {"../../../g", "http://a/g"},
    {"../../../../g", "http://a/g"},
    {"/./g", "http://a/g"},
    {"/../g", "http://a/g"},
    {"g.", "http://a/b/c/g."},
    {".g", "http://a/b/c/.g"},
    {"g..", "http://a/b/c/g.."},
    {"..g", "http://a/b/c/..g"},
    {"./../g", "http://a/b/g"},
    {"./g/.", "http://a/b/c/g/"},
    {"g/./h", "http://a/b/c/g/h"},
    {"g/../h", "http://a/b/c/h"},
    {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
    {"g;x=1/../y", "http://a/b/c/y"},
    {"g?y/./x", "http://a/b/c/g?y/./x"},
    {"g?y/../x", "http://a/b/c/g?y/../x"},
    {"g#s/./x", "http://a/b/c/g#s/./x"},
    {"g#s/../x", "http://a/b/c/g#s/../x"},
    {"http:g", "http:g"},
};

TEST(URL, ResolvesReferencesAgainstABase) {
    auto base = URL::parse("http://a/b/c/d;p?q");
    ASSERT_TRUE(base);
    for (const auto& row : kResolveRows) {
        auto url = URL::parse(row.reference, *base);
        ASSERT_TRUE(url) << row.reference;
        EXPECT_EQ(url->absoluteString(), row.expected) << row.reference;
    }
}

TEST(URL, ResolvingEdgeCases) {
    auto errorPage = URL::parse("file:///www/error.html#old");
    EXPECT_EQ(URL::parse("?error=a%20b", *errorPage)->absoluteString(),
              "file:///www/error.html?error=a%20b");
    EXPECT_EQ(URL::parse("b", *URL::parse("http://a"))->absoluteString(), "http://a/b");
    EXPECT_EQ(URL::parse("c", *URL::parse("a/b"))->absoluteString(), "a/c");
    EXPECT_FALSE(URL::parse("a b", *errorPage));

    // A resolved path that starts with "//" must not turn into an authority.
    auto odd = URL::parse("..//c", *URL::parse("foo:a/b"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->absoluteString(), "foo:/.//c");
    EXPECT_EQ(odd->host(), N);
    EXPECT_EQ(odd->standardizedURL().absoluteString(), "foo:/.//c");
}

TEST(URL, FileURLsRoundTripTheirPaths) {
    const char* paths[] = {"/tmp/a b/\xC3\xBC\xE2\x82\xAC.txt", "/a?b#c%d;e", "/", "/x/"};
    for (const char* path : paths) {
        URL url = URL::fileURLWithPath(path);
        EXPECT_TRUE(url.isFileURL());
        EXPECT_EQ(url.host(), "");
        EXPECT_EQ(url.query(), N);
        EXPECT_EQ(URL::parse(url.absoluteString()), url);
        std::string expected = path;
        if (expected.size() > 1 && expected.back() == '/') expected.pop_back();
        EXPECT_EQ(url.path(), expected);
    }
    EXPECT_EQ(URL::fileURLWithPath("/tmp/a b/\xC3\xBC.txt").absoluteString(),
              "file:///tmp/a%20b/%C3%BC.txt");
    EXPECT_EQ(URL::fileURLWithPath("/a?b#c%d").absoluteString(), "file:///a%3Fb%23c%25d");
    EXPECT_EQ(URL::fileURLWithPath("/tmp/dir", true).absoluteString(), "file:///tmp/dir/");
    EXPECT_EQ(URL::fileURLWithPath("/tmp/dir/", true).absoluteString(), "file:///tmp/dir/");

    std::string cwd = std::filesystem::current_path().string();
    if (cwd.back() != '/') cwd += '/';
    EXPECT_EQ(URL::fileURLWithPath("rel/x").path(), cwd + "rel/x");
    std::string cwdPath = cwd.size() > 1 ? cwd.substr(0, cwd.size() - 1) : cwd;
    EXPECT_EQ(URL::fileURLWithPath("").path(), cwdPath);
    EXPECT_TRUE(URL::fileURLWithPath("").hasDirectoryPath());
}

TEST(URL, AppendingAndDeletingPathComponents) {
    auto url = [](const char* text) { return *URL::parse(text); };
    EXPECT_EQ(url("http://h/a?x=1#f").URLByAppendingPathComponent("b c").absoluteString(),
              "http://h/a/b%20c?x=1#f");
    EXPECT_EQ(url("http://h").URLByAppendingPathComponent("b").absoluteString(), "http://h/b");
    EXPECT_EQ(url("http://h/a/").URLByAppendingPathComponent("b", true).absoluteString(),
              "http://h/a/b/");
    EXPECT_EQ(url("file:///tmp").URLByAppendingPathComponent("x?y#z%").absoluteString(),
              "file:///tmp/x%3Fy%23z%25");
    EXPECT_EQ(url("file:///tmp").URLByAppendingPathComponent("a/b").absoluteString(),
              "file:///tmp/a/b");
    EXPECT_EQ(
        url("app://localhost").URLByAppendingPathComponent("/www/index.html").absoluteString(),
        "app://localhost/www/index.html");
    EXPECT_EQ(url("file:///a/").URLByAppendingPathComponent("//b").absoluteString(), "file:///a/b");

    EXPECT_EQ(url("http://h/a/b?q").URLByDeletingLastPathComponent().absoluteString(),
              "http://h/a/?q");
    EXPECT_EQ(url("http://h/a/b/").URLByDeletingLastPathComponent().absoluteString(),
              "http://h/a/");
    EXPECT_EQ(url("http://h/a").URLByDeletingLastPathComponent().absoluteString(), "http://h/");
    EXPECT_EQ(url("http://h/").URLByDeletingLastPathComponent().absoluteString(), "http://h/");
    EXPECT_EQ(url("http://h").URLByDeletingLastPathComponent().absoluteString(), "http://h");
    EXPECT_EQ(url("hybfile://localhost/persistent/a/b.txt")
                  .URLByDeletingLastPathComponent()
                  .absoluteString(),
              "hybfile://localhost/persistent/a/");
    EXPECT_EQ(url("http://h/a/..").URLByDeletingLastPathComponent().absoluteString(),
              "http://h/a/../../");
    EXPECT_EQ(url("a").URLByDeletingLastPathComponent().absoluteString(), "./");
}

TEST(URL, PathExtensions) {
    auto url = [](const char* text) { return *URL::parse(text); };
    EXPECT_EQ(url("file:///a/b").URLByAppendingPathExtension("txt").absoluteString(),
              "file:///a/b.txt");
    EXPECT_EQ(url("file:///a/b/").URLByAppendingPathExtension("d").absoluteString(),
              "file:///a/b.d/");
    EXPECT_EQ(url("file:///a/b").URLByAppendingPathExtension("x y").absoluteString(),
              "file:///a/b.x%20y");
    EXPECT_EQ(url("file:///").URLByAppendingPathExtension("x").absoluteString(), "file:///");
    EXPECT_EQ(url("file:///a").URLByAppendingPathExtension("a/b").absoluteString(), "file:///a");
    EXPECT_EQ(url("file:///a").URLByAppendingPathExtension("").absoluteString(), "file:///a");

    EXPECT_EQ(url("file:///a/b.tar.gz?q").URLByDeletingPathExtension().absoluteString(),
              "file:///a/b.tar?q");
    EXPECT_EQ(url("file:///a/b.d/").URLByDeletingPathExtension().absoluteString(), "file:///a/b/");
    EXPECT_EQ(url("file:///a/.hidden").URLByDeletingPathExtension().absoluteString(),
              "file:///a/.hidden");
    EXPECT_EQ(url("file:///a.b/c").URLByDeletingPathExtension().absoluteString(), "file:///a.b/c");
}

TEST(URL, StandardizedURLRemovesDotSegments) {
    EXPECT_EQ(URL::parse("http://h/a/./b/../c?x/../y#z")->standardizedURL().absoluteString(),
              "http://h/a/c?x/../y#z");
    EXPECT_EQ(URL::parse("file:///a/../../b")->standardizedURL().absoluteString(), "file:///b");
    EXPECT_EQ(URL::parse("mailto:a/../b")->standardizedURL().absoluteString(), "mailto:a/../b");
}

TEST(URLComponents, QueryItems) {
    using Items = std::vector<ns::URLQueryItem>;
    auto items = [](const char* text) { return ns::URLComponents(*URL::parse(text)).queryItems(); };
    EXPECT_EQ(
        items("http://h/?a=1&b&c=&=d&&e=%20x+y&f=1=2"),
        (Items{{"a", "1"}, {"b", N}, {"c", ""}, {"", "d"}, {"", N}, {"e", " x+y"}, {"f", "1=2"}}));
    EXPECT_EQ(items("http://h/?a=%FF"), (Items{{"a", "%FF"}}));
    EXPECT_EQ(items("http://h/?"), Items{});
    EXPECT_EQ(items("http://h/"), std::nullopt);
}

TEST(URLComponents, RebuildsAfterChanges) {
    ns::URLComponents parts(*URL::parse("https://a.example/oauth2/token?x=1#f"));
    parts.setPercentEncodedQuery(*parts.percentEncodedQuery() + "&x-client-Ver=2.3.1");
    EXPECT_EQ(parts.url()->absoluteString(),
              "https://a.example/oauth2/token?x=1&x-client-Ver=2.3.1#f");

    parts.setPercentEncodedQuery("a b");
    EXPECT_FALSE(parts.url());

    auto relative = ns::URLComponents::componentsWithString("a/b");
    ASSERT_TRUE(relative);
    relative->setPercentEncodedPath("c:d");
    EXPECT_EQ(relative->string(), "./c:d");
    EXPECT_EQ(relative->url()->path(), "./c:d");

    auto withHost = ns::URLComponents::componentsWithString("http://h");
    withHost->setPercentEncodedPath("x");
    EXPECT_EQ(withHost->string(), "http://h/x");
}

}  // namespace
