#include "sdk/core/NEBLogbookLogger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ns/NotificationCenter.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBCoreTime.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "sdk/core/NEBServiceHosts.h"
#include "tests/sdk/core/AppFixture.h"
#include "tests/sdk/core/NetworkFixture.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

namespace fs = std::filesystem;
using peers::HttpResponse;

NEB_LOGBOOK::LogEvent eventWith(const std::string& payload) {
    NEB_LOGBOOK::LogEvent event;
    event.set_source_extension(payload);
    return event;
}

class NEBLogbookLoggerTest : public sdktest::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        sys::DeviceFacts::current().setBootTime(sys::WallTime{1'600'000'000, 250'000});
    }

    void TearDown() override {
        logger_.reset();
        network_.reset();
        NetworkTest::TearDown();
    }

    void start() {
        network_ = NEBNetwork::create("localhost");
        ASSERT_TRUE(network_);
        logger_ = NEBLogbookLogger::create(network_, queueDirectory());
        logger_->setServerURL(server_->url("/log"));
    }

    std::string queueDirectory() const { return dir_.str() + "/queue"; }
    fs::path sourceDirectory() const { return fs::path(queueDirectory()) / "greenhouse" / "137"; }

    std::vector<fs::path> queuedFiles() {
        loop().runUntilIdle();
        std::vector<fs::path> files;
        if (!fs::exists(sourceDirectory())) return files;
        for (const auto& entry : fs::directory_iterator(sourceDirectory())) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // The log requests the endpoint received, decoded.
    std::vector<NEB_LOGBOOK::LogRequest> received() const {
        std::vector<NEB_LOGBOOK::LogRequest> requests;
        for (const auto& sent : server_->requests()) {
            EXPECT_EQ(sent.path, "/log");
            EXPECT_EQ(sent.header("Content-Encoding"), "gzip");
            auto inflated = tbx_dataByInflatingData(ns::Data::fromString(sent.body));
            NEB_LOGBOOK::LogRequest request;
            EXPECT_TRUE(inflated && request.ParseFromArray(inflated->bytes(),
                                                           static_cast<int>(inflated->length())));
            requests.push_back(request);
        }
        return requests;
    }

    static std::vector<std::string> payloadsOf(const NEB_LOGBOOK::LogRequest& request) {
        std::vector<std::string> payloads;
        for (const auto& run : request.serialized_log_events()) {
            for (auto body : NEBLogbookFileReader::records(run)) {
                NEB_LOGBOOK::LogEvent event;
                EXPECT_TRUE(event.ParseFromArray(body.data(), static_cast<int>(body.size())));
                payloads.push_back(event.source_extension());
            }
        }
        return payloads;
    }

    std::shared_ptr<bool> flush() {
        auto done = std::make_shared<bool>(false);
        logger_->flushWithCompletionHandler([done] { *done = true; });
        return done;
    }

    bool waitForRetries(int32_t retries) {
        return waitUntil([&] { return logger_->uploadRetriesRemaining() == retries; });
    }

    std::shared_ptr<NEBNetwork> network_;
    std::shared_ptr<NEBLogbookLogger> logger_;
};

TEST_F(NEBLogbookLoggerTest, FlushUploadsEachFileAndDeletesItAfterSuccess) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    start();
    logger_->logEvent(eventWith("first"), 137, "greenhouse");
    logger_->logEvent(eventWith("second"), 137, "greenhouse");
    ASSERT_EQ(queuedFiles().size(), 1u);

    auto done = flush();
    ASSERT_TRUE(waitUntil([&] { return *done; }));
    auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.log_source(), 137);
    EXPECT_EQ(request.request_time_ms(), 1'700'000'000'000);
    EXPECT_EQ(request.request_uptime_ms(), 1'700'000'000'000 - 1'600'000'000'250);
    EXPECT_EQ(request.client_info().client_type(), NEB_LOGBOOK::ClientInfo::IOS);
    EXPECT_EQ(request.client_info().ios_client_info().application_build(), "0");
    EXPECT_EQ(request.client_info().ios_client_info().os_full_version(), "17.0");
    EXPECT_FALSE(request.client_info().ios_client_info().has_logging_id());
    EXPECT_FALSE(request.has_client_cookie());
    EXPECT_EQ(payloadsOf(request), (std::vector<std::string>{"first", "second"}));

    NEB_LOGBOOK::LogEvent stamped;
    auto body = NEBLogbookFileReader::records(request.serialized_log_events(0))[0];
    ASSERT_TRUE(stamped.ParseFromArray(body.data(), static_cast<int>(body.size())));
    EXPECT_EQ(stamped.event_time_ms(), 1'700'000'000'000);
    EXPECT_EQ(stamped.event_uptime_ms(), 1'700'000'000'000 - 1'600'000'000'250);

    EXPECT_TRUE(queuedFiles().empty());
    EXPECT_EQ(logger_->uploadRetriesRemaining(), 6);
    EXPECT_EQ(logger_->backgroundTaskId(), ui::kBackgroundTaskInvalid);
}

TEST_F(NEBLogbookLoggerTest, AFailedPostKeepsTheFileUntilALaterSuccess) {
    logs_.expect("[I-COR000020] Error posting to Logbook: (null), with Status Code: 500");
    server_->on("POST", "/log", HttpResponse::text(500, "busy"));
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    start();
    logger_->logEvent(eventWith("kept"), 137, "greenhouse");
    auto first = flush();
    ASSERT_TRUE(waitForRetries(5));
    EXPECT_FALSE(*first);
    EXPECT_EQ(queuedFiles().size(), 1u);
    EXPECT_TRUE(logs().contains(
        "[Nebula/Core][I-COR000020] Error posting to Logbook: (null), with Status Code: 500"));

    auto second = flush();
    ASSERT_TRUE(waitUntil([&] { return *second; }));
    EXPECT_TRUE(*first);  // the earlier flush completes with the pass that emptied the queue
    EXPECT_EQ(logger_->uploadRetriesRemaining(), 6);
    EXPECT_TRUE(queuedFiles().empty());
    auto requests = received();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].serialized_log_events(0), requests[1].serialized_log_events(0));
}

// A file that cannot be deleted after its post would be sent again at every pass: that is
// said, with the reason, for a sent file and for an unreadable one alike.
TEST_F(NEBLogbookLoggerTest, AQueuedFileThatCannotBeDeletedIsReported) {
    logs_.expect("[I-COR000023] Failed to delete log file");
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    fs::create_directories(sourceDirectory());
    std::ofstream(sourceDirectory() / "1699999999001", std::ios::binary) << "\x7f";
    start();
    logger_->logEvent(eventWith("sent"), 137, "greenhouse");
    ns::InjectedFaults faults;
    faults.add("unlink", EBUSY, 2);
    auto done = flush();
    ASSERT_TRUE(waitUntil([&] { return *done; }));
    EXPECT_EQ(server_->requestCount(), 1u);
    EXPECT_EQ(queuedFiles().size(), 2u);
    EXPECT_EQ(logs().count("[Nebula/Core][I-COR000023] Failed to delete log file "), 2u);
    EXPECT_TRUE(logs().contains("Code=512"));  // the reason goes with it
}

TEST_F(NEBLogbookLoggerTest, ARedirectIsNotFollowedAndCountsAsAFailure) {
    logs_.expect("[I-COR000020] Error posting to Logbook: (null), with Status Code: 302");
    server_->on("POST", "/log", HttpResponse::redirect(302, "/elsewhere"));
    server_->on("POST", "/elsewhere", HttpResponse::text(200, ""));
    start();
    logger_->logEvent(eventWith("x"), 137, "greenhouse");
    flush();
    ASSERT_TRUE(waitForRetries(5));
    EXPECT_EQ(server_->requestCount(), 1u);
    EXPECT_EQ(queuedFiles().size(), 1u);
    EXPECT_TRUE(logs().contains("with Status Code: 302"));
}

TEST_F(NEBLogbookLoggerTest, SixFailuresInARowEndPostingForTheProcess) {
    logs_.expect("[I-COR000020] Error posting to Logbook: (null), with Status Code: 503");
    server_->on("POST", "/log", HttpResponse::text(503, ""));
    start();
    logger_->logEvent(eventWith("x"), 137, "greenhouse");
    for (int retries = 5; retries >= 0; --retries) {
        flush();
        ASSERT_TRUE(waitForRetries(retries));
    }
    auto last = flush();
    loop().runUntilIdle();
    EXPECT_EQ(server_->requestCount(), 6u);
    EXPECT_FALSE(*last);
    EXPECT_EQ(queuedFiles().size(), 1u);  // left for the next launch
    EXPECT_EQ(logger_->backgroundTaskId(), ui::kBackgroundTaskInvalid);
}

TEST_F(NEBLogbookLoggerTest, TheTimerIsArmedOnlyOnceTheNetworkIsUp) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    setReachable(false);
    start();
    logger_->logEvent(eventWith("waiting"), 137, "greenhouse");
    loop().runUntilIdle();
    EXPECT_FALSE(logger_->sendScheduled());
    loop().advanceBy(std::chrono::minutes(30));
    EXPECT_EQ(server_->requestCount(), 0u);

    setReachable(true);
    ASSERT_TRUE(waitUntil([&] { return logger_->sendScheduled(); }));
    loop().advanceBy(std::chrono::seconds(899));
    EXPECT_EQ(server_->requestCount(), 0u);
    loop().advanceBy(std::chrono::seconds(1));
    ASSERT_TRUE(waitUntil([&] { return queuedFiles().empty(); }));
    EXPECT_EQ(payloadsOf(received().at(0)), std::vector<std::string>{"waiting"});
    // The pass that emptied the queue armed the next one.
    EXPECT_TRUE(logger_->sendScheduled());
}

TEST_F(NEBLogbookLoggerTest, EnteringTheBackgroundSendsAtOnce) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    start();
    logger_->logEvent(eventWith("bg"), 137, "greenhouse");
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationDidEnterBackgroundNotification);
    ASSERT_TRUE(waitUntil([&] { return queuedFiles().empty(); }));
    EXPECT_EQ(server_->requestCount(), 1u);
}

TEST_F(NEBLogbookLoggerTest, OnlyWholeRecordsOfATornFileAreSent) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    fs::create_directories(sourceDirectory());
    std::string whole = eventWith("whole").SerializeAsString();
    std::string torn = eventWith("torn tail").SerializeAsString();
    std::ofstream(sourceDirectory() / "1699999999000", std::ios::binary)
        << static_cast<char>(whole.size()) << whole << static_cast<char>(torn.size())
        << torn.substr(0, 3);
    std::ofstream(sourceDirectory() / "1699999999001", std::ios::binary) << "\x7f"
                                                                            "x";
    start();
    auto done = flush();
    ASSERT_TRUE(waitUntil([&] { return *done; }));
    auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(payloadsOf(requests[0]), std::vector<std::string>{"whole"});
    EXPECT_TRUE(queuedFiles().empty());  // the file without a whole record went unsent
}

TEST_F(NEBLogbookLoggerTest, RepeatedFlushesSendEachFileOnce) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    start();
    logger_->logEvent(eventWith("once"), 137, "greenhouse");
    auto a = flush();
    auto b = flush();
    auto c = flush();
    ASSERT_TRUE(waitUntil([&] { return *a && *b && *c; }));
    EXPECT_EQ(server_->requestCount(), 1u);
    EXPECT_TRUE(logs().count("I-COR000017") == 0);
}

TEST_F(NEBLogbookLoggerTest, PassWithNothingQueuedCompletesAtOnce) {
    start();
    auto done = flush();
    loop().runUntilIdle();
    EXPECT_TRUE(*done);
    EXPECT_EQ(server_->requestCount(), 0u);
    EXPECT_EQ(logger_->backgroundTaskId(), ui::kBackgroundTaskInvalid);
    EXPECT_EQ(ui::Application::shared().runningBackgroundTaskCount(), 0u);
}

TEST_F(NEBLogbookLoggerTest, ClientIdentityGoesWithEveryRequest) {
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    start();
    logger_->setInstallIdentifier("INSTALL-1");
    logger_->setClientCookie("cookie");
    logger_->setApplicationBuild("42");
    logger_->logEvent(eventWith("x"), 137, "greenhouse");
    auto done = flush();
    ASSERT_TRUE(waitUntil([&] { return *done; }));
    auto request = received().at(0);
    EXPECT_EQ(request.client_info().ios_client_info().logging_id(), "INSTALL-1");
    EXPECT_EQ(request.client_info().ios_client_info().application_build(), "42");
    EXPECT_EQ(request.client_cookie(), "cookie");
}

TEST_F(NEBLogbookLoggerTest, AFileIsClosedOnceItPassesTheSizeLimit) {
    start();
    logger_->setMaxRequestNumBytes(100);
    std::string payload(55, 'p');
    for (int i = 0; i < 3; ++i) {
        logger_->logEvent(eventWith(payload), 137, "greenhouse");
        clock().advanceSeconds(0.01);
    }
    auto files = queuedFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(NEBLogbookFileReader::records(sdktest::readFileBytes(files[0])).size(), 2u);
    EXPECT_GT(fs::file_size(files[0]), 100u);
    EXPECT_EQ(NEBLogbookFileReader::records(sdktest::readFileBytes(files[1])).size(), 1u);
}

TEST_F(NEBLogbookLoggerTest, EventsThatCannotBeQueuedAreDropped) {
    logs_.expect("[I-COR000017] Failure to write data for account");
    start();
    logger_->logEvent(eventWith("x"), 137, "");
    logger_->logEvent(eventWith("x"), 258, "greenhouse");
    loop().runUntilIdle();
    EXPECT_EQ(logs().count("[I-COR000017] Failure to write data for account"), 2u);
    EXPECT_FALSE(fs::exists(queueDirectory()));
}

TEST_F(NEBLogbookLoggerTest, WithoutAClientEventsStayOnDisk) {
    logger_ = NEBLogbookLogger::create(nullptr, queueDirectory());
    logger_->logEvent(eventWith("offline"), 137, "greenhouse");
    flush();
    loop().runUntilIdle();
    EXPECT_EQ(queuedFiles().size(), 1u);
    EXPECT_FALSE(logger_->sendScheduled());
}

// The whole road: configuring the default app sends its record to the endpoint, and the
// successful pass stamps the last-record time.
class ConfigurationRecordUploadTest : public NEBLogbookLoggerTest {
protected:
    void TearDown() override {
        apps_.reset();
        NEBLogbookLogger::setSharedInstance(nullptr);
        NEBLogbookLoggerTest::TearDown();
    }
};

TEST_F(ConfigurationRecordUploadTest, RegistrationRecordReachesTheEndpoint) {
    logs_.expect("[I-COR000022] Nebula Analytics is not available.");
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    NEBServiceHosts::setLogbookServerURL(server_->url("/log").absoluteString());
    start();
    relaunch();
    NEBLogbookLogger::setSharedInstance(logger_);
    writeOptionsPlist(sdktest::validOptions());
    NEBApp::configure();

    auto stamp = *NEBApp::filePathURLWithName("NEBULA_LAST_TIMESTAMP");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(stamp); }));
    EXPECT_EQ(sdktest::readFileBytes(stamp), "1700000000.000000");
    auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    auto records = sdktest::recordsIn(requests[0].serialized_log_events(0));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].app_id(), "1:1234567890:ios:0123456789abcdef");
    EXPECT_EQ(records[0].configuration_type(), NEB_ICORE::ICoreConfiguration::CORE);

    // A day later the activation sends the daily record.
    clock().advanceSeconds(86401);
    ns::NotificationCenter::defaultCenter().post(ui::kApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(waitUntil([&] { return server_->requestCount() == 2; }));
}

}  // namespace
