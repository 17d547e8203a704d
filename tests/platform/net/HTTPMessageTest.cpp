#include <gtest/gtest.h>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/Origin.h"
#include "platform/net/URLError.h"
#include "platform/net/URLRequest.h"

namespace {

ns::URL url() {
    return *ns::URL::parse("https://example.test/a");
}

TEST(HTTPMessageTest, HeaderNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    net::URLRequest request(url());
    request.setValue("a", "X-Thing");
    request.setValue("b", "x-thing");
    request.addValue("c", "X-THING");
    ASSERT_EQ(request.allHTTPHeaderFields().size(), 1u);
    EXPECT_EQ(request.allHTTPHeaderFields().begin()->first, "X-Thing");
    EXPECT_EQ(request.valueForHTTPHeaderField("x-tHiNg"), "b, c");
    request.setValue(std::nullopt, "X-THING");
    EXPECT_TRUE(request.allHTTPHeaderFields().empty());
}

TEST(HTTPMessageTest, BodyIsBytesOrAFileNeverBoth) {
    net::URLRequest request(url());
    EXPECT_EQ(request.HTTPMethod(), "GET");
    EXPECT_EQ(request.timeoutInterval(), 60.0);
    request.setHTTPBody(ns::Data::fromString("x"));
    request.setHTTPBodyFile("/tmp/body");
    EXPECT_FALSE(request.HTTPBody());
    request.setHTTPBody(ns::Data::fromString("y"));
    EXPECT_FALSE(request.HTTPBodyFile());
}

struct ContentTypeCase {
    const char* header;
    std::optional<std::string> mime;
    std::optional<std::string> charset;
};

class ResponseContentTypeTest : public testing::TestWithParam<ContentTypeCase> {};

TEST_P(ResponseContentTypeTest, MIMETypeAndEncodingComeFromContentType) {
    net::HTTPHeaderFields fields;
    if (GetParam().header) fields["content-type"] = GetParam().header;
    net::HTTPURLResponse response(url(), 200, "HTTP/1.1", fields);
    EXPECT_EQ(response.MIMEType(), GetParam().mime);
    EXPECT_EQ(response.textEncodingName(), GetParam().charset);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponseContentTypeTest,
    testing::Values(ContentTypeCase{nullptr, std::nullopt, std::nullopt},
                    ContentTypeCase{"text/HTML", "text/html", std::nullopt},
                    ContentTypeCase{"application/json; charset=UTF-8", "application/json", "utf-8"},
                    ContentTypeCase{"text/plain;format=flowed; Charset=\"ISO-8859-1\"",
                                    "text/plain", "iso-8859-1"},
                    ContentTypeCase{" ; charset=utf-8", std::nullopt, "utf-8"}));

TEST(HTTPMessageTest, ExpectedLengthIsMinusOneUnlessContentLengthIsANumber) {
    auto lengthOf = [](std::optional<std::string> value) {
        net::HTTPHeaderFields fields;
        if (value) fields["Content-Length"] = *value;
        return net::HTTPURLResponse(url(), 200, "HTTP/1.1", fields).expectedContentLength();
    };
    EXPECT_EQ(lengthOf(std::nullopt), -1);
    EXPECT_EQ(lengthOf("42"), 42);
    EXPECT_EQ(lengthOf(" 7 "), 7);
    EXPECT_EQ(lengthOf("-3"), -1);
    EXPECT_EQ(lengthOf("12abc"), -1);
    EXPECT_EQ(lengthOf("99999999999999999999999"), -1);
}

TEST(HTTPMessageTest, URLErrorsCarryTheFailingURLAndThePlatformsText) {
    auto error = net::makeURLError(net::kURLErrorServerCertificateUntrusted, url(), "detail");
    EXPECT_EQ(error.domain(), "NSURLErrorDomain");
    EXPECT_EQ(error.code(), -1202);
    EXPECT_EQ(error.userInfo().at(net::kURLErrorFailingURLStringErrorKey),
              ns::Value("https://example.test/a"));
    EXPECT_NE(error.localizedDescription().find("“example.test”"), std::string::npos);
    EXPECT_EQ(net::makeURLError(net::kURLErrorTimedOut).localizedDescription(),
              "The request timed out.");
}

// An origin is scheme, host and port: a port left out is the scheme's own.
TEST(HTTPMessageTest, OriginsCompareSchemeHostAndEffectivePort) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    for (const Case& c : {Case{"https://a.test/x", "HTTPS://A.test:443/y?z", true},
                          Case{"http://a.test/", "http://a.test:80/", true},
                          Case{"https://a.test/", "https://a.test:80/", false},
                          Case{"https://a.test/", "http://a.test:443/", false},
                          Case{"https://a.test/", "https://b.a.test/", false},
                          Case{"https://127.0.0.1:8443/", "https://localhost:8443/", false}}) {
        EXPECT_EQ(net::isSameOrigin(*ns::URL::parse(c.a), *ns::URL::parse(c.b)), c.same)
            << c.a << " " << c.b;
    }
}

}  // namespace
