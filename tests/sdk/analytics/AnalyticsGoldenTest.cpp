// Golden tests of what analytics says, stores and sends: the monitor's lines as standard error
// receives them at every level, the keychain item of its wrapper, and one whole first start of
// the engine (configuration fetch, first open, an event, the upload, and a conditional fetch of
// the configuration) with the lines it hands to the system log, its keychain item
// and its requests, compared byte for byte with tests/fixtures/golden/analytics/.
//
// Normalisation: each standard-error line's prefix (time, process, ids) becomes
// "<time> <process>[<ids>] "; loopback ports "<port>"; UUIDs "<uuid-N>"; the app instance ID
// (32 random hexadecimal digits, made at the first start) "<app-instance-id>". The upload body
// is shown gunzipped, as a measurement batch in protobuf text form, and its "Content-Length",
// which follows how well the random ids compress, as "<length of the body>" once checked. The
// flow's log lines come from the engine's worker queue and from the main queue, which run side by
// side, so they are compared sorted: every line with its level is pinned, not the order between the
// two threads.
#include <gtest/gtest.h>

#include <google/protobuf/text_format.h>

#include <algorithm>
#include <sstream>

#include "platform/ns/Locale.h"
#include "platform/ns/Log.h"
#include "platform/sec/Keychain.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/analytics/NEBAASIdentifierManager.h"
#include "sdk/analytics/NEBAASLLogger.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAKeychainWrapper.h"
#include "sdk/core/pb.h"
#include "tests/sdk/analytics/ServerFixture.h"
#include "tests/support/Golden.h"
#include "tests/support/KeychainDump.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace analyticstest {
namespace {

using testsupport::expectMatchesGolden;

constexpr const char* kFacility = "com.nebula.NEBAASLLogger";

ns::Dictionary appInfo() {
    return {{"CFBundleIdentifier", "com.example.analytics"},
            {"CFBundleShortVersionString", "2.5"},
            {"CFBundleVersion", "250"}};
}

// Every level, with and without encoded contexts and in debug mode, through the system log to
// standard error.
TEST(AnalyticsMonitorGolden, LinesAtEveryLevelThroughTheSystemLog) {
    const ns::LogLevel minimum = ns::Log::minimumLevel();
    ns::Log::setMinimumLevel(ns::LogLevel::Debug);
    std::string written;
    {
        testsupport::StdStreamCapture stderrCapture(2);
        auto monitor = std::make_shared<NEBAMonitor>(6, std::make_shared<NEBAASLLogger>(7), 3403);
        for (int64_t level = 0; level <= 8; ++level) {
            monitor->logWithLevel(level, "Level " + std::to_string(level) + ". Context",
                                  {ns::Value(int64_t{250})});
        }
        monitor->setLogLevel(7);
        const std::vector<NEBALogContext> contexts{
            ns::Value("secret text"), ns::Value(int64_t{-250}), ns::Value(42), std::monostate{},
            ns::Error("com.nebula.nmp.measurement.ErrorDomain", 3)};
        monitor->logWithLevel(7, "Plain contexts", contexts);
        monitor->setEncodeContexts(true);
        monitor->logWithLevel(4, "Encoded contexts", contexts);
        monitor->logWithLevel(6, "", {});
        monitor->logWithLevel(3, "Quoted \"a\nb\x1b[0m\"", {});
        monitor->flush();
        auto debugLogger = std::make_shared<NEBAASLLogger>(4);
        for (int64_t level : {0, 3, 6, 7}) debugLogger->logMessage("debug-mode level", level);
        written = stderrCapture.text();
    }
    ns::Log::setMinimumLevel(minimum);
    expectMatchesGolden(
        "analytics/monitor-lines.txt",
        testsupport::logLinesWithPrefixNormalised(written, {"[com.nebula.NEBAASLLogger] "}));
}

class AnalyticsKeychainGolden : public AnalyticsTest {
protected:
    testsupport::ScopedMainBundle bundle_{appInfo()};
    testsupport::ScopedKeychain keychain_;
};

// Added with its accessibility, then updated in place: the accessibility stays.
TEST_F(AnalyticsKeychainGolden, ItemIsAddedThenUpdated) {
    NEBAKeychainWrapper keychain(sec::Keychain::shared());
    ASSERT_TRUE(keychain.upsertKeychainValue("1", "_pfo", "com.example.analytics"));
    std::string dump = "(first write)\n" + testsupport::dumpKeychain();
    ASSERT_TRUE(keychain.upsertKeychainValue("2", "_pfo", "com.example.analytics"));
    dump += "(second write)\n" + testsupport::dumpKeychain();
    expectMatchesGolden("analytics/keychain-items.txt", dump);
}

std::string sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    return out;
}

class AnalyticsFlowGolden : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        // What the bundle reports of the device, whatever machine and locale run the test.
        sys::DeviceFacts::current().setMachine("iPhone10,3");
        ns::UserDefaults::standardUserDefaults()->setObject(
            ns::kAppleLanguagesKey, ns::Value(ns::Array{ns::Value("en-GB")}));
        // The product's logger under the monitor, every level let through. The fixture's
        // override goes first, so that it puts back what it replaced before this one starts.
        override_.reset();
        monitor_ = std::make_shared<NEBAMonitor>(7, std::make_shared<NEBAASLLogger>(7), 3403);
        override_ = std::make_unique<ScopedMonitor>(monitor_);
    }
    void TearDown() override {
        monitor_->flush();
        ServerTest::TearDown();
    }

    std::string normalised(std::string text) const {
        if (auto id = engine_->persistedConfig()->appInstanceID(); id && !id->empty()) {
            text = std::regex_replace(text, std::regex(*id), "<app-instance-id>");
        }
        return testsupport::Normaliser::standard()(std::move(text));
    }

    static std::string requestText(const peers::HttpRequest& request) {
        std::optional<std::string> body;
        if (request.method == "POST") {
            auto inflated = tbx_dataByInflatingData(ns::Data::fromString(request.body));
            NEB_MEASUREMENT::ACPMeasurementBatch batch;
            if (inflated &&
                batch.ParseFromArray(inflated->bytes(), static_cast<int>(inflated->length()))) {
                std::string text;
                pb::TextFormat::PrintToString(batch, &text);
                body = "(gunzipped measurement batch, " + std::to_string(inflated->length()) +
                       " bytes)\n" + text;
            }
        }
        // The gzipped length follows the random ids inside; the body is compared decoded.
        return testsupport::formatHttpRequest(
            request.method, request.target,
            testsupport::withBodyLengthChecked(request.headerLines, request.body), request.body,
            body);
    }

    testsupport::ScopedMainBundle bundle_{appInfo()};
    testsupport::ScopedKeychain keychain_;
    testsupport::ScopedTimeZone utc_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<NEBAEnvironmentInfo> environment_;
};

TEST_F(AnalyticsFlowGolden, FirstStartFetchesTheConfigurationUploadsAndFetchesItAgain) {
    peer_->answerConfig(kAppID, 200,
                        configWith(kAppID, {{"measurement.upload.max_events_per_bundle", "100"}})
                            .SerializeAsString(),
                        "Mon, 07 Dec 2026 04:00:00 GMT");
    testsupport::ScopedLogRecorder lines({kFacility});
    // The identifier manager says once per process, when it is made, that the advertising
    // framework is missing: a fresh one, made while the lines are recorded, says it whatever
    // ran before in this process.
    ns::ScopedSharedInstance<NEBAASIdentifierManager> identifierManager;
    startConnectedEngine(options(), /*keepStartupEvents=*/true);
    NEBAnalytics::logEventWithName(ns::Value("select_item"),
                                   {{"item", ns::Value("seeds")}, {"count", ns::Value(3)}});
    loop().runUntilIdle();
    loop().advanceBy(dispatch::seconds(16));
    ASSERT_TRUE(settle([&] { return peer_->uploadCount() >= 1; }));
    ASSERT_TRUE(settle());
    // The next fetch asks whether the configuration changed since the one it holds.
    peer_->answerConfig(kAppID, 304);
    onWorker([&] { engine_->fetchRemoteConfig(); });
    ASSERT_TRUE(settle([&] { return peer_->configRequests().size() == 2; }));
    monitor_->flush();

    expectMatchesGolden("analytics/first-start-log.txt", sortedLines(normalised(lines.text())));
    std::string requests;
    for (const auto& request : server_->requests()) {
        requests += normalised(requestText(request)) + "----\n";
    }
    expectMatchesGolden("analytics/first-start-requests.txt", requests);
    expectMatchesGolden("analytics/first-start-keychain.txt",
                        normalised(testsupport::dumpKeychain()));
}

}  // namespace
}  // namespace analyticstest
