#include <gtest/gtest.h>

#include "tests/sdk/analytics/ServerFixture.h"

namespace analyticstest {
namespace {

using SettingsTest = EngineTest;

// Settings as the server sends them: text in the C locale, times in milliseconds, and a value
// out of range reads as the default rather than the nearest bound.
TEST_F(SettingsTest, ReadsTextWithinRanges) {
    startEngine();
    using Getter = double (*)(NEBARemoteConfig&);
    Getter interval = [](NEBARemoteConfig& r) { return r.uploadingInterval(); };
    struct Case {
        const char* key;
        const char* value;
        Getter get;
        double expected;
    };
    const Case cases[] = {
        {"measurement.upload.interval", "7200000", interval, 7200},
        {"measurement.upload.interval", "10000", interval, 3600},
        {"measurement.upload.interval", "soon", interval, 3600},
        {"measurement.upload.interval", "7200000,5", interval, 3600},
        {"measurement.upload.retry_count", "30",
         [](NEBARemoteConfig& r) { return double(r.uploadingRetryCount()); }, 6},
        {"measurement.upload.max_bundles_created_per_iteration", "50000",
         [](NEBARemoteConfig& r) { return double(r.maxBundlesCreatedPerIteration()); }, 50},
        {"measurement.upload.blacklist_public", "2",
         [](NEBARemoteConfig& r) { return double(r.blacklistPublic()); }, 0},
        {"measurement.upload.max_events_per_day", "1e3",
         [](NEBARemoteConfig& r) { return double(r.maxEventsPerDay()); }, 1000},
        {"measurement.upload.max_batch_size", "1e300",
         [](NEBARemoteConfig& r) { return double(r.uploadMaxSizeLimitBytes()); }, 65536},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        applyConfig({{c.key, c.value}});
        EXPECT_EQ(onWorker([&] { return c.get(*engine_->engineRemoteConfig()); }), c.expected);
    }
    auto defaults = NEBARemoteConfig::defaultInstance();
    EXPECT_EQ(defaults->version(), -1);
    EXPECT_FALSE(defaults->isExpired());
    EXPECT_EQ(defaults->uploadingInterval(), 3600);
}

class RemoteConfigTest : public ServerTest {
protected:
    void start(const std::string& appID = kAppID) {
        startConnectedEngine(std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(
            ns::Dictionary{{kNEBNebulaAppID, ns::Value(appID)}})));
    }

    // One fetch, to its completion.
    void fetch() {
        size_t before = peer_->configRequests().size();
        onWorker([&] { engine_->fetchRemoteConfig(); });
        ASSERT_TRUE(peers::runMainLoopUntil([&] {
            return peer_->configRequests().size() > before &&
                   !onWorker([&] { return engine_->isNetworkRequestPending(); });
        }));
    }

    double uploadInterval() {
        return onWorker([&] { return engine_->engineRemoteConfig()->uploadingInterval(); });
    }
};

TEST_F(RemoteConfigTest, AppliesThenKeepsTheConfigurationAcrossNotModifiedAndNotFound) {
    start();
    peer_->answerConfig(
        kAppID, 200,
        configWith(kAppID, {{"measurement.upload.interval", "7200000"}}).SerializeAsString(),
        "Mon, 07 Dec 2026 04:00:00 GMT");
    peer_->answerConfig(kAppID, 304);
    peer_->answerConfig(kAppID, 404);
    fetch();
    EXPECT_EQ(uploadInterval(), 7200);
    auto request = peer_->configRequests().back();
    EXPECT_EQ(request.query.find("app_instance_id=" +
                                 engine_->persistedConfig()->appInstanceID().value()) !=
                  std::string::npos,
              true);
    EXPECT_NE(request.query.find("platform=ios"), std::string::npos);
    EXPECT_NE(request.query.find("nmp_version=3403"), std::string::npos);

    clock().advanceSeconds(4000);
    EXPECT_TRUE(onWorker([&] { return engine_->engineRemoteConfig()->isExpired(); }));
    fetch();
    EXPECT_EQ(peer_->configRequests().back().header("If-Modified-Since"),
              "Mon, 07 Dec 2026 04:00:00 GMT");
    EXPECT_EQ(uploadInterval(), 7200);
    EXPECT_FALSE(onWorker([&] { return engine_->engineRemoteConfig()->isExpired(); }));

    clock().advanceSeconds(4000);
    fetch();
    EXPECT_EQ(uploadInterval(), 7200);
    EXPECT_FALSE(onWorker([&] { return engine_->engineRemoteConfig()->isExpired(); }));
    EXPECT_EQ(engine_->persistedConfig()->configServerLastModifiedString().value_or(""), "");
}

struct RefusedAnswer {
    const char* name;
    int status;
    std::string body;
    bool backoff;
    bool failure;
};

class RefusedAnswerTest : public RemoteConfigTest,
                          public ::testing::WithParamInterface<RefusedAnswer> {};

TEST_P(RefusedAnswerTest, LeavesTheConfigurationAsItWas) {
    start();
    peer_->answerConfig(kAppID, GetParam().status, GetParam().body);
    fetch();
    EXPECT_EQ(uploadInterval(), 3600);
    EXPECT_EQ(onWorker([&] { return engine_->engineRemoteConfig()->version(); }), -1);
    EXPECT_EQ(engine_->persistedConfig()->lastBackoffTimestamp() > 0, GetParam().backoff);
    EXPECT_EQ(engine_->persistedConfig()->lastFailedUploadTimestamp() > 0, GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedAnswerTest,
    ::testing::Values(RefusedAnswer{"Unavailable", 503, "", true, true},
                      RefusedAnswer{"TooMany", 429, "", true, true},
                      RefusedAnswer{"ServerError", 500, "", false, true},
                      RefusedAnswer{"Garbage", 200, "\xff\xff\xff\x01garbage", false, false},
                      RefusedAnswer{"OtherApp", 200,
                                    configWith("1:999:ios:other",
                                               {{"measurement.upload.interval", "7200000"}})
                                        .SerializeAsString(),
                                    false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteConfigTest, AppIDCannotLeaveItsPathSegment) {
    const std::string appID = "1:2:ios:a/../b?c";
    start(appID);
    peer_->answerConfig(
        "1:2:ios:a%2F..%2Fb%3Fc", 200,
        configWith(appID, {{"measurement.upload.interval", "7200000"}}).SerializeAsString());
    fetch();
    EXPECT_EQ(peer_->configRequests().back().path, "/config/app/1:2:ios:a%2F..%2Fb%3Fc");
    EXPECT_EQ(uploadInterval(), 7200);
}

}  // namespace
}  // namespace analyticstest
