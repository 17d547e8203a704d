#include "platform/net/BackgroundJob.h"

#include <gtest/gtest.h>

namespace {

net::BackgroundJob sample() {
    net::URLRequest request(*ns::URL::parse("https://upload.example/a?x=1"),
                            net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 30.5);
    request.setHTTPMethod("POST");
    request.setValue("gzip", "Content-Encoding");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    return net::BackgroundJob("E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "bg.session", request,
                              "/data/NEBUpload_temp_1");
}

TEST(BackgroundJobTest, ReadsBackWhatItWrote) {
    auto job = net::BackgroundJob::parse(sample().serialized());
    ASSERT_TRUE(job);
    EXPECT_EQ(job->identifier(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(job->sessionIdentifier(), "bg.session");
    EXPECT_EQ(job->bodyFile(), "/data/NEBUpload_temp_1");
    const auto& request = job->request();
    EXPECT_EQ(request.url().absoluteString(), "https://upload.example/a?x=1");
    EXPECT_EQ(request.HTTPMethod(), "POST");
    EXPECT_EQ(request.valueForHTTPHeaderField("content-encoding"), "gzip");
    EXPECT_EQ(request.allHTTPHeaderFields().size(), 2u);
    EXPECT_EQ(request.timeoutInterval(), 30.5);
    EXPECT_EQ(request.cachePolicy(), net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
}

struct Damage {
    const char* name;
    std::string from;
    std::string to;
};

class BackgroundJobRejectsTest : public testing::TestWithParam<Damage> {};

TEST_P(BackgroundJobRejectsTest, DamagedOrForeignTextIsNoJob) {
    std::string text = sample().serialized();
    const Damage& damage = GetParam();
    if (damage.from.empty()) {
        text = damage.to;
    } else {
        auto at = text.find(damage.from);
        ASSERT_NE(at, std::string::npos) << damage.from;
        text.replace(at, damage.from.size(), damage.to);
    }
    EXPECT_FALSE(net::BackgroundJob::parse(text)) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackgroundJobRejectsTest,
    testing::Values(Damage{"Empty", "", ""}, Damage{"NotAnObject", "", "[1,2]"},
                    Damage{"CutShort", "}", ""},
                    Damage{"OtherVersion", "\"version\":1", "\"version\":2"},
                    Damage{"IdNotAUUID", "E621E1F8-C36C", "../../etc"},
                    Damage{"NotTheWeb", "https://upload.example", "file:///etc"},
                    Damage{"RelativeBodyFile", "\"/data/", "\"data/"},
                    Damage{"HeaderThatBreaksTheLine", "\"gzip\"", "\"gzip\\r\\nX: 1\""},
                    Damage{"MethodWithASpace", "\"POST\"", "\"PO ST\""},
                    Damage{"TimeoutNotANumber", "\"timeout\":30.5", "\"timeout\":\"30\""},
                    Damage{"PolicyOutOfRange", "\"cachePolicy\":1", "\"cachePolicy\":9"},
                    Damage{"MissingSession", "\"session\":\"bg.session\",", ""}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

}  // namespace
