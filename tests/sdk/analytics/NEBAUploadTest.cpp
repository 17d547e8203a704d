#include <gtest/gtest.h>

#include <set>

#include "platform/dispatch/Queue.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/UUID.h"
#include "tests/sdk/analytics/FullDiskVfs.h"
#include "tests/sdk/analytics/ServerFixture.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace analyticstest {
namespace {

using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;

class UploadTest : public ServerTest {
protected:
    // The server's configuration, answered to every fetch.
    void serveConfig(const Settings& settings) {
        peer_->answerConfig(kAppID, 200, configWith(kAppID, settings).SerializeAsString());
    }

    // Logs events "e" with "i" = 0 ... count-1 through the facade, from several queues at once.
    void logFromQueues(int count, int queues) {
        std::vector<std::shared_ptr<dispatch::Queue>> senders;
        for (int q = 0; q < queues; ++q)
            senders.push_back(dispatch::Queue::createSerial("test.sender." + std::to_string(q)));
        for (int i = 0; i < count; ++i)
            senders[i % queues]->async([i] {
                NEBAnalytics::logEventWithName(ns::Value("e"), {{"i", ns::Value(i)}});
            });
        loop().runUntilIdle();
    }

    bool hasData() {
        return onWorker([&] { return engine_->hasDataToUpload(); });
    }

    // Lets the upload alarm fire and the uploads it starts run to their end.
    void uploadDue(double seconds) {
        loop().advanceBy(dispatch::seconds(seconds));
        ASSERT_TRUE(settle([&] { return !hasData() || peer_->uploadCount() > uploadsSeen_; }));
        ASSERT_TRUE(settle());
        uploadsSeen_ = peer_->uploadCount();
    }

    // The "i" of every "e" event in the bundles.
    static std::multiset<int64_t> indices(const std::vector<Bundle>& bundles) {
        std::multiset<int64_t> found;
        for (const auto& bundle : bundles)
            for (const auto& event : bundle.events())
                if (event.name() == "e")
                    for (const auto& param : event.params())
                        if (param.name() == "i") found.insert(param.int_value());
        return found;
    }

    std::vector<Bundle> everyBundleSent() {
        std::vector<Bundle> bundles;
        for (const auto& batch : peer_->batches())
            for (const auto& bundle : batch.bundles()) bundles.push_back(bundle);
        return bundles;
    }

    static std::multiset<int64_t> zeroTo(int count) {
        std::multiset<int64_t> all;
        for (int i = 0; i < count; ++i) all.insert(i);
        return all;
    }

    int64_t rows(const char* table) {
        return onWorker([&] {
            return engine_->database()
                ->sqliteStore()
                .rowCountForTableWithName(table)
                .value()
                .integerValue();
        });
    }

    size_t uploadsSeen_ = 0;
};

TEST_F(UploadTest, EventsFromFourQueuesArriveExactlyOnceAndLeaveNothingBehind) {
    serveConfig({{"measurement.upload.max_events_per_bundle", "100"}});
    startConnectedEngine();
    logFromQueues(1000, 4);
    EXPECT_EQ(storedEvents("e"), 1000);

    uploadDue(16);
    ASSERT_FALSE(hasData());
    EXPECT_EQ(indices(everyBundleSent()), zeroTo(1000));
    EXPECT_EQ(peer_->undecodableUploads(), 0u);
    for (const char* table : {"raw_events", "raw_events_metadata", "queue"})
        EXPECT_EQ(rows(table), 0) << table;

    auto bundles = peer_->distinctBundles();
    auto app = onWorker([&] { return engine_->database()->queryAppMetadata().value().value(); });
    EXPECT_EQ(app.lastBundleIndex(), static_cast<int32_t>(bundles.size()));
    EXPECT_GE(bundles.size(), 10u);
    for (const auto& bundle : bundles) {
        EXPECT_LE(bundle.events_size(), 100);
        EXPECT_EQ(bundle.app_instance_id(), engine_->persistedConfig()->appInstanceID());
        EXPECT_EQ(bundle.nebula_instance_id(), kInstanceID);
        EXPECT_EQ(bundle.config_version(), 7);
        EXPECT_GT(bundle.upload_timestamp_millis(), 0);
    }
    auto aggregates =
        onWorker([&] { return engine_->database()->eventAggregatesWithName("e").value().value(); });
    EXPECT_EQ(aggregates.lifetimeCount(), 1000);
    EXPECT_GT(engine_->persistedConfig()->lastSuccessfulUploadTimestamp(), 0);
    EXPECT_EQ(engine_->persistedConfig()->lastFailedUploadTimestamp(), 0);
    EXPECT_TRUE(onWorker([&] { return engine_->uploadingBundleIDs().empty(); }));
}

struct RefusedUpload {
    const char* name;
    peers::HttpResponse answer;
    bool backoff;
};

class RefusedUploadTest : public UploadTest, public ::testing::WithParamInterface<RefusedUpload> {};

// A refused upload keeps its bundles; a busy server also makes the next attempt wait for the
// back-off, any other failure for the retry interval. A later success delivers each event once.
TEST_P(RefusedUploadTest, IsRetriedLaterAndDeliversEverythingOnce) {
    serveConfig({});
    peer_->answerUpload(GetParam().answer);
    peer_->answerUpload(200);
    startConnectedEngine();
    logFromQueues(1000, 4);
    uploadDue(16);
    EXPECT_EQ(peer_->uploadCount(), 1u);
    EXPECT_TRUE(peer_->batches().empty());
    const double failed = engine_->persistedConfig()->lastFailedUploadTimestamp();
    ASSERT_GT(failed, 0);
    const double backoff = engine_->persistedConfig()->lastBackoffTimestamp();
    EXPECT_EQ(backoff > 0, GetParam().backoff);
    auto due = onWorker([&] { return engine_->alarm().scheduledTimestamp(); });
    ASSERT_TRUE(due);
    if (GetParam().backoff)
        EXPECT_GE(*due, backoff + 43200);
    else  // the first retry interval after the latest data's upload time
        EXPECT_LE(*due, failed + 15 + 1800);

    uploadDue(GetParam().backoff ? 43201 : 1816);
    ASSERT_FALSE(hasData());
    EXPECT_EQ(indices(everyBundleSent()), zeroTo(1000));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedUploadTest,
    ::testing::Values(RefusedUpload{"Unavailable", peers::HttpResponse::text(503, ""), true},
                      RefusedUpload{"TooMany", peers::HttpResponse::text(429, ""), true},
                      RefusedUpload{"ServerError", peers::HttpResponse::text(500, ""), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UploadTest, ASizeLimitOfNothingStillSendsOneEventAtATime) {
    serveConfig({{"measurement.upload.max_batch_size", "0"}});
    startConnectedEngine();
    logFromQueues(3, 1);
    uploadDue(16);
    ASSERT_FALSE(hasData());
    EXPECT_EQ(indices(everyBundleSent()), zeroTo(3));
    for (const auto& batch : peer_->batches()) EXPECT_EQ(batch.bundles_size(), 1);
}

TEST_F(UploadTest, NoContentCountsAsDelivered) {
    serveConfig({});
    peer_->answerUpload(204);
    startConnectedEngine();
    logFromQueues(5, 1);
    uploadDue(16);
    EXPECT_FALSE(hasData());
    EXPECT_EQ(peer_->uploadCount(), 1u);
}

// The server read the background upload whole and closed the connection without answering:
// it may have stored the batch. The transport does not send it again by itself; the engine
// hears of the lost connection, keeps the bundles and sends them at its retry time.
TEST_F(UploadTest, ABackgroundUploadCutOffUnansweredIsRetriedOnlyOnTheSchedule) {
    serveConfig({{"measurement.network.background_session_enabled", "1"}});
    peer_->answerUpload(peers::HttpResponse::closeConnection());
    peer_->answerUpload(204);
    startConnectedEngine();
    logFromQueues(5, 1);
    uploadDue(16);
    EXPECT_EQ(peer_->uploadCount(), 1u);
    EXPECT_TRUE(hasData());
    EXPECT_TRUE(net::BackgroundJobStore::load().empty());
    loop().advanceBy(dispatch::seconds(1700));
    ASSERT_TRUE(settle());
    EXPECT_EQ(peer_->uploadCount(), 1u) << "sent again before the retry time";
    uploadDue(200);  // the first retry is due 1800 s after the first upload time
    EXPECT_EQ(peer_->uploadCount(), 2u);
    EXPECT_FALSE(hasData());
    EXPECT_EQ(indices(everyBundleSent()), zeroTo(5));
}

// A store started anew after damage may hold other bundles under the row IDs that an earlier
// launch's background upload carried. When the next launch takes that upload up, its answer
// deletes only the bundles it carried (same row, same end time); the others stay queued.
TEST_F(UploadTest, AnEarlierBackgroundUploadsAnswerDeletesOnlyTheBundlesItCarried) {
    serveConfig({});
    peer_->answerUpload(204);
    peer_->answerUpload(500);  // the bundles left, sent next, stay queued
    startConnectedEngine();
    for (int i = 0; i < 3; ++i) {
        logFromQueues(1, 1);
        ASSERT_TRUE(onWorker([&] { return engine_->bundleRawEvents(); }));
    }
    auto queued = onWorker(
        [&] { return engine_->database()->queryBundlesWithCountLimit(10, 1 << 20).value(); });
    ASSERT_EQ(queued.size(), 3u);

    // What the earlier launch sent: the first of these bundles, and two others that rows 2 and 3
    // held then.
    const std::string session = "com.nebula.network.background-upload-earlier";
    NEBAPersistedConfig::BackgroundUpload earlier{session, {}};
    NEB_MEASUREMENT::ACPMeasurementBatch batch;
    for (size_t i = 0; i < queued.size(); ++i) {
        const auto& [bundle, rowID] = queued[i];
        earlier.bundles.emplace_back(rowID, bundle.end_timestamp_millis() - (i == 0 ? 0 : 1));
        *batch.add_bundles() = bundle;
    }
    engine_->persistedConfig()->setBackgroundUpload(earlier);
    const std::string body = ns::Sandbox::temporaryDirectory() + "earlier-upload";
    ASSERT_TRUE(
        ns::writeFileAtomically(
            body, *tbx_dataByGzippingData(ns::Data::fromString(batch.SerializeAsString())), 0600)
            .ok());
    net::URLRequest request(*ns::URL::parse("https://" + peer_->host() + "/a"));
    request.setHTTPMethod("POST");
    request.setValue("gzip", "Content-Encoding");
    ASSERT_TRUE(net::BackgroundJobStore::save(
                    net::BackgroundJob(ns::UUID().UUIDString(), session, request, body))
                    .ok());

    loop().runUntilIdle();
    engineOverride_.reset();
    engine_.reset();
    startEngine(options(), true, NEBNetwork::create("localhost"));
    ASSERT_TRUE(settle([&] { return peer_->uploadCount() > 0; }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(peer_->batches().size(), 1u);
    auto left = onWorker(
        [&] { return engine_->database()->queryBundlesWithCountLimit(10, 1 << 20).value(); });
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].second, queued[1].second);
    EXPECT_EQ(left[1].second, queued[2].second);
}

// A launch that finds an earlier background upload recorded but its job gone (answered, or
// dropped as outlived) has nothing to take up: the record goes, and the run's uploads go on,
// the bundles it named among them.
TEST_F(UploadTest, AnEarlierBackgroundUploadWhoseJobIsGoneLeavesTheRunsUploadsGoing) {
    serveConfig({});
    startConnectedEngine();
    logFromQueues(3, 1);
    ASSERT_TRUE(onWorker([&] { return engine_->bundleRawEvents(); }));
    NEBAPersistedConfig::BackgroundUpload earlier{"com.nebula.network.background-upload-gone", {}};
    for (const auto& [bundle, rowID] : onWorker([&] {
             return engine_->database()->queryBundlesWithCountLimit(10, 1 << 20).value();
         })) {
        earlier.bundles.emplace_back(rowID, bundle.end_timestamp_millis());
    }
    ASSERT_FALSE(earlier.bundles.empty());
    engine_->persistedConfig()->setBackgroundUpload(earlier);

    loop().runUntilIdle();
    engineOverride_.reset();
    engine_.reset();
    startEngine(options(), true, NEBNetwork::create("localhost"));
    uploadDue(16);
    EXPECT_FALSE(hasData());
    EXPECT_EQ(indices(everyBundleSent()), zeroTo(3));
    EXPECT_FALSE(engine_->persistedConfig()->backgroundUpload());
}

TEST_F(UploadTest, DeliveredBundlesThatCannotBeDeletedAreNotSentAgainAtOnce) {
    FullDiskVfs vfs;
    serveConfig({});
    startConnectedEngine();
    logFromQueues(5, 1);
    // Configuration fetched and bundles made while the disk has room.
    uploadDue(16);
    logFromQueues(5, 1);
    ASSERT_TRUE(onWorker([&] { return engine_->bundleRawEvents(); }));
    size_t before = peer_->uploadCount();
    vfs.setFull(true);
    onWorker([&] { engine_->uploadData(); });
    ASSERT_TRUE(settle([&] { return peer_->uploadCount() > before; }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(peer_->uploadCount(), before + 1);
    EXPECT_TRUE(logs().contains("Unable to delete uploaded bundles"));
    vfs.setFull(false);
    // The schedule sends them again later; the service tells the copies apart.
    uploadDue(3601);
    EXPECT_FALSE(hasData());
    auto sent = indices(everyBundleSent());
    EXPECT_EQ(std::set<int64_t>(sent.begin(), sent.end()).size(), 5u);
}

TEST_F(UploadTest, AConfigurationThatCannotBeStampedIsNotFetchedAgainAtOnce) {
    FullDiskVfs vfs;
    serveConfig({});
    startConnectedEngine();
    logFromQueues(3, 1);
    vfs.setFull(true);
    loop().advanceBy(dispatch::seconds(16));
    ASSERT_TRUE(settle([&] { return !peer_->configRequests().empty(); }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(peer_->configRequests().size(), 1u);
    EXPECT_TRUE(logs().contains("Unable to update the configuration last set timestamp"));
}

TEST_F(UploadTest, ABatchCarriesOneAppAndOneDevice) {
    auto bundle = [](const char* app, const char* vendor) {
        Bundle b;
        b.set_app_id(app);
        if (*vendor) b.set_vendor_device_id(vendor);
        return b;
    };
    std::vector<NEBADatabase::BundlePair> queue{
        {bundle("A", "X"), 1}, {bundle("A", ""), 2}, {bundle("A", "Y"), 3}, {bundle("B", "X"), 4}};
    auto batch = NEBAMeasurement::filteredBundlesWithCompatibleAppID("A", "", "X", queue);
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[1].second, 2);
    EXPECT_TRUE(NEBAMeasurement::filteredBundlesWithCompatibleAppID("A", "R", "X", queue).empty());

    // Another app's bundle ends the batch even when its device is the same, or there is none.
    for (const auto& device : {"X", ""}) {
        std::vector<NEBADatabase::BundlePair> mixed{
            {bundle("A", device), 1}, {bundle("B", device), 2}, {bundle("A", device), 3}};
        auto first = NEBAMeasurement::filteredBundlesWithCompatibleAppID("A", "", device, mixed);
        ASSERT_EQ(first.size(), 1u) << device;
        EXPECT_EQ(first[0].second, 1);
    }
}

// When the next upload is due, with the default settings, for one event logged now.
class ScheduleTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        startConnectedEngine();
        now_ = clock().wallTime();
    }

    double next(double succeeded, double failed, bool realtime = false) {
        auto event = NEBAEvent::initWithOrigin(
            "app", !realtime, realtime ? "_conversion" : "tap", now_, 0,
            realtime ? ns::Dictionary{{"_c", ns::Value(1)}} : ns::Dictionary{});
        return onWorker([&] {
            engine_->logEventOnWorkerQueue(*event);
            engine_->persistedConfig()->setLastSuccessfulUploadTimestamp(succeeded);
            engine_->persistedConfig()->setLastFailedUploadTimestamp(failed);
            return engine_->nextUploadingTime();
        });
    }

    double now_ = 0;
};

TEST_F(ScheduleTest, IntervalsFollowTheLastSuccessOrTheLatestData) {
    EXPECT_EQ(next(now_ - 600, 0), now_ - 600 + 3600);
    EXPECT_EQ(next(0, 0), now_ + 15);
    EXPECT_EQ(next(now_ - 5, 0, true), now_ - 5 + 10);
}

TEST_F(ScheduleTest, FailuresAreRetriedAtGrowingIntervalsAFewTimes) {
    const double base = now_ + 15;
    const double steps[] = {1800, 5400, 12600, 27000, 55800, 113400};
    for (double step : steps) EXPECT_EQ(next(0, base + step - 1), base + step) << step;
    EXPECT_EQ(next(0, base + 113400), 0);
}

TEST_F(ScheduleTest, AnEarlierAlarmIsKeptALaterOneReplaced) {
    onWorker([&] { engine_->alarm().runAfterDelay(5, [] {}); });
    EXPECT_EQ(next(0, 0), now_ + 15);
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_EQ(onWorker([&] { return engine_->alarm().scheduledTimestamp(); }), now_ + 5);
    onWorker([&] {
        engine_->alarm().runAfterDelay(99999, [] {});
        engine_->updateSchedule();
    });
    EXPECT_EQ(onWorker([&] { return engine_->alarm().scheduledTimestamp(); }), now_ + 15);
}

}  // namespace
}  // namespace analyticstest

namespace analyticstest {
namespace {

// The engine's answers to the application's life cycle.
class LifeCycleTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        application_->launch();
    }
    void post(const char* name) {
        ns::NotificationCenter::defaultCenter().post(name);
        loop().runUntilIdle();
    }
    ns::ScopedSharedInstance<ui::Application> application_;
};

TEST_F(LifeCycleTest, ResigningActiveUploadsUnderABackgroundTaskThatTheForegroundEnds) {
    // A configuration that is fetched once, so that the second attempt fetches none (a failed
    // fetch's answer would end its task as soon as it came, racing the checks below).
    peer_->answerConfig(kAppID, 200, configWith(kAppID, {}).SerializeAsString());
    startConnectedEngine();
    post(ui::kApplicationWillResignActiveNotification);
    auto first = engine_->backgroundUpdateTask();
    ASSERT_NE(first, ui::kBackgroundTaskInvalid);
    EXPECT_TRUE(application_->isBackgroundTaskRunning(first));
    ASSERT_TRUE(settle());
    // The upload attempt fetched the expired configuration first.
    EXPECT_EQ(peer_->configRequests().size(), 1u);

    // What the second attempt uploads (the session's engagement, when it has been stored by
    // then) stays in flight until the foreground has come: its success would end the task.
    peer_->answerUpload(peers::HttpResponse::hang());
    post(ui::kApplicationWillResignActiveNotification);
    EXPECT_FALSE(application_->isBackgroundTaskRunning(first));
    auto second = engine_->backgroundUpdateTask();
    EXPECT_TRUE(application_->isBackgroundTaskRunning(second));
    post(ui::kApplicationWillEnterForegroundNotification);
    EXPECT_EQ(engine_->backgroundUpdateTask(), ui::kBackgroundTaskInvalid);
    EXPECT_EQ(application_->runningBackgroundTaskCount(), 0u);
    // The held upload may reach the server only now: released whenever it has come.
    peer_->answerUpload(200);
    ASSERT_TRUE(peers::runMainLoopUntil([&] {
        server_->releaseHeld();
        return !onWorker([&] { return engine_->isNetworkRequestPending(); });
    }));
}

TEST_F(LifeCycleTest, WithBackgroundUploadsOffResigningStartsNothing) {
    peer_->answerConfig(
        kAppID, 200,
        configWith(kAppID, {{"measurement.upload.upload_when_app_in_background_enabled", "0"}})
            .SerializeAsString());
    startConnectedEngine();
    onWorker([&] { engine_->fetchRemoteConfig(); });
    ASSERT_TRUE(settle());
    post(ui::kApplicationWillResignActiveNotification);
    EXPECT_EQ(engine_->backgroundUpdateTask(), ui::kBackgroundTaskInvalid);
    EXPECT_EQ(application_->runningBackgroundTaskCount(), 0u);
}

TEST_F(LifeCycleTest, ActivationRefetchesAWeekOldConfigurationOnlyWhenInternalEventsAreBlocked) {
    auto blocking = configWith(kAppID, {{"measurement.upload.blacklist_internal", "1"}});
    peer_->answerConfig(kAppID, 200, blocking.SerializeAsString());
    startConnectedEngine();
    onWorker([&] { engine_->fetchRemoteConfig(); });
    ASSERT_TRUE(settle());
    size_t fetched = peer_->configRequests().size();
    post(ui::kApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(settle());
    EXPECT_EQ(peer_->configRequests().size(), fetched);
    clock().advanceSeconds(604800);
    post(ui::kApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(settle([&] { return peer_->configRequests().size() > fetched; }));
}

}  // namespace
}  // namespace analyticstest
