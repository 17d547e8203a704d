// Raw events with their metadata, the bundle queue, limits, and the stale sweep.
#include "sdk/analytics/NSData+MD5.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

using analyticstest::AnalyticsTest;
using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;

class NEBADatabaseQueuesTest : public AnalyticsTest {
protected:
    void SetUp() override {
        AnalyticsTest::SetUp();
        database_ = openDatabase();
        ASSERT_TRUE(database_);
        now_ = clock().wallTime();
    }

    NEBAEvent event(const std::string& name, double timestamp, ns::Dictionary parameters = {}) {
        return *NEBAEvent::initWithOrigin("auto", false, name, timestamp, 0, parameters);
    }

    Bundle metadata(const std::string& appVersion) {
        Bundle bundle;
        bundle.set_app_version(appVersion);
        return bundle;
    }

    int64_t count(const std::string& table) {
        return database_->sqliteStore().rowCountForTableWithName(table)->integerValue();
    }

    std::vector<NEBARawEventData> eventsOf(int64_t fingerprint) {
        auto events = database_->rawEventsWithMetadataFingerprint(
            fingerprint, [](size_t, const NEBASqliteStore::Record&) { return true; });
        EXPECT_TRUE(events);
        return events ? *events : std::vector<NEBARawEventData>{};
    }

    Bundle bundleOfSize(size_t bytes, int64_t endMillis) {
        Bundle bundle;
        bundle.set_app_id("app");
        bundle.set_end_timestamp_millis(endMillis);
        bundle.set_health_monitor(std::string(bytes, 'h'));
        return bundle;
    }

    std::unique_ptr<NEBADatabase> database_;
    double now_ = 0;
};

TEST_F(NEBADatabaseQueuesTest, RawEventsRoundTripWithOriginTypesAndRealtimeFlag) {
    auto stored = event("value_event", now_, {{"value", ns::Value(3)}, {"ratio", ns::Value(0.5)}});
    ASSERT_TRUE(database_->insertRawEvent(stored, 77, true));
    auto events = eventsOf(77);
    ASSERT_EQ(events.size(), 1u);
    const auto& read = events.front().rawEvent();
    EXPECT_EQ(read.origin(), "auto");
    EXPECT_EQ(read.name(), "value_event");
    EXPECT_EQ(read.parameters().at("value"), NEBAValue(int64_t{3}));
    EXPECT_EQ(read.parameters().at("ratio"), NEBAValue(0.5));
    EXPECT_EQ(events.front().metadataFingerprint(), 77);
    EXPECT_TRUE(*database_->containsRealtimeRawEvents());
    EXPECT_EQ(**database_->nextMetadataFingerprintToProcess(), 77);
    EXPECT_DOUBLE_EQ(**database_->queryLatestRawEventTime(), now_);
}

// Bundles are cut by the sizes the reader reports: each must be the size of the message that
// goes into the bundle, whatever the length of its name (one or two length bytes; a stored name
// may be longer than the event road allows today) or of its parameters.
TEST_F(NEBADatabaseQueuesTest, StoredEventsReportTheSizeOfTheMessageTheyBecome) {
    const std::vector<std::string> names = {"a", std::string(40, 'n'), std::string(200, 'm')};
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(database_->insertRawEvent(
            event(name, now_, {{"text", ns::Value(std::string(200, 't'))}, {"n", ns::Value(7)}}), 9,
            false));
    for (const char* name : {"b", "c"}) {
        const std::string longer = name[0] == 'b' ? names[1] : names[2];
        ASSERT_TRUE(database_->sqliteStore().executeSQL("UPDATE raw_events SET name = '" + longer +
                                                        "' WHERE name = '" + name + "'"));
    }
    size_t seen = 0;
    ASSERT_TRUE(database_->readStoredEventsWithMetadataFingerprint(
        9, [&](NEBADatabase::StoredEvent&& stored) {
            EXPECT_EQ(stored.proto.name(), names.at(seen));
            EXPECT_EQ(stored.size, static_cast<int64_t>(stored.proto.ByteSizeLong()))
                << "name length " << names.at(seen).size();
            ++seen;
            return true;
        }));
    EXPECT_EQ(seen, names.size());
}

TEST_F(NEBADatabaseQueuesTest,
       UndecodableRawEventIsDeletedWithADataLossLineInsteadOfBlockingItsGroup) {
    ASSERT_TRUE(database_->insertRawEvent(event("good", now_), 5, false));
    ASSERT_TRUE(database_->sqliteStore().upsertRecord(
        {{"name", ns::Value("bad")},
         {"timestamp", ns::Value(now_)},
         {"metadata_fingerprint", ns::Value(5)},
         {"data", ns::Value(ns::Data::fromString("\xff\xff\xff"))}},
        "raw_events"));
    auto events = eventsOf(5);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.front().rawEvent().name(), "good");
    EXPECT_EQ(count("raw_events"), 1);
    EXPECT_TRUE(logs().contains("Data loss. Deleted raw event that cannot be read"));
}

TEST_F(NEBADatabaseQueuesTest, MetadataIsSharedAndOrphansGoWhenTheTrimDeletesTheirLastEvent) {
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata("1.0")));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata("1.0")));
    EXPECT_EQ(count("raw_events_metadata"), 1);
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata("2.0")));
    EXPECT_EQ(count("raw_events_metadata"), 2);
    int64_t first = neba_64LSBMD5(metadata("1.0").SerializeAsString());
    int64_t second = neba_64LSBMD5(metadata("2.0").SerializeAsString());
    auto read = database_->queryRawEventsMetadataWithFingerprint(first);
    ASSERT_TRUE(read && *read);
    EXPECT_EQ((*read)->app_version(), "1.0");

    ASSERT_TRUE(database_->insertRawEvent(event("old", now_), first, false));
    ASSERT_TRUE(database_->insertRawEvent(event("new", now_), second, false));
    // With room for one event, the trim before an insertion removes the older one, and the
    // metadata only it used goes too.
    database_->setLimits({1, 2419200, 86400});
    auto deleted = database_->deleteRawEventsOverAbsoluteLimit();
    ASSERT_TRUE(deleted);
    EXPECT_EQ(*deleted, 2);
    EXPECT_EQ(count("raw_events_metadata"), 0);
    database_->setLimits({0, 2419200, 86400});
    ASSERT_TRUE(database_->insertRawEvent(event("a", now_), second, false));
    ASSERT_TRUE(database_->deleteRawEventsOverAbsoluteLimit());
    ASSERT_TRUE(database_->insertRawEvent(event("b", now_), second, false));
    EXPECT_EQ(count("raw_events"), 1);
}

TEST_F(NEBADatabaseQueuesTest,
       StaleSweepTakesOldAndFutureEventsOncePerIntervalOrWhenTheClockGoesBack) {
    double year = 365 * 86400.0;
    persistedConfig()->setLastDeleteStaleBundlesTimestamp(now_);
    ASSERT_TRUE(database_->insertRawEvent(event("past", now_ - year), 1, false));
    ASSERT_TRUE(database_->insertRawEvent(event("future", now_ + year), 2, false));
    ASSERT_TRUE(database_->insertRawEvent(event("today", now_), 3, false));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata("x")));
    ASSERT_TRUE(database_->insertBundle(
        bundleOfSize(10, static_cast<int64_t>((now_ - year) * 1000)), false));
    EXPECT_FALSE(*database_->maybeDeleteStaleData());
    EXPECT_EQ(count("raw_events"), 3);

    clock().advanceSeconds(86401);
    EXPECT_TRUE(*database_->maybeDeleteStaleData());
    EXPECT_EQ(count("raw_events"), 1);
    EXPECT_EQ(count("queue"), 0);
    EXPECT_EQ(count("raw_events_metadata"), 0);  // no event used it
    EXPECT_FALSE(*database_->maybeDeleteStaleData());

    persistedConfig()->setLastDeleteStaleBundlesTimestamp(clock().wallTime() + 2 * 86400);
    EXPECT_TRUE(*database_->maybeDeleteStaleData());
}

TEST_F(NEBADatabaseQueuesTest, BundlesAreReadByEndTimeWithinTheSizeBudgetAndAlwaysAtLeastOne) {
    auto base = static_cast<int64_t>(now_ * 1000);
    ASSERT_TRUE(database_->insertBundle(bundleOfSize(30000, base - 2000), false));
    ASSERT_TRUE(database_->insertBundle(bundleOfSize(10000, base - 1000), false));
    ASSERT_TRUE(
        database_->insertBundle(bundleOfSize(40000, base - 3000), true));  // arrived late, oldest
    auto pairs = database_->queryBundlesWithCountLimit(100, 65536);
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->size(), 1u);
    EXPECT_EQ(pairs->front().first.end_timestamp_millis(), base - 3000);
    auto small = database_->queryBundlesWithCountLimit(100, 20000);
    ASSERT_TRUE(small && small->size() == 1);
    auto all = database_->queryBundlesWithCountLimit(100, 1 << 20);
    ASSERT_TRUE(all && all->size() == 3);
    std::vector<int64_t> rows{all->at(0).second, all->at(1).second};
    ASSERT_TRUE(database_->deleteBundlesWithRowIDs(rows));
    EXPECT_EQ(count("queue"), 1);
    EXPECT_FALSE(*database_->containsRealtimeBundles());

    Bundle noTime = bundleOfSize(1, 0);
    auto refused = database_->insertBundle(noTime, false);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().localizedDescription(),
              "Failed to insert bundle without valid timestamp");
}

TEST_F(NEBADatabaseQueuesTest, UnreadableQueueRowsAreDeletedWithADataLossLineNotLeftAtTheHead) {
    auto base = static_cast<int64_t>(now_ * 1000);
    // Inflates far beyond what any bundle may be: refused without inflating it all.
    std::string zeros(40u << 20, '\0');
    auto bomb = tbx_dataByGzippingBytes(zeros.data(), zeros.size());
    ASSERT_TRUE(bomb);
    for (const auto& bytes : {ns::Data::fromString("not gzip"),
                              *tbx_dataByGzippingData(ns::Data::fromString("\xff\xff")), *bomb}) {
        ASSERT_TRUE(database_->sqliteStore().upsertRecord(
            {{"data", ns::Value(bytes)}, {"bundle_end_timestamp", ns::Value(now_ - 10)}}, "queue"));
    }
    ASSERT_TRUE(database_->insertBundle(bundleOfSize(10, base), false));
    auto pairs = database_->queryBundlesWithCountLimit(100, 65536);
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->size(), 1u);
    EXPECT_EQ(pairs->front().first.end_timestamp_millis(), base);
    EXPECT_EQ(count("queue"), 1);
    EXPECT_TRUE(logs().contains("Data loss. Deleted queued bundles that cannot be read"));
}

TEST_F(NEBADatabaseQueuesTest, TablesKeepTheirRowLimits) {
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(database_->updateUserAttribute(*NEBAUserAttribute::initWithName(
            "p" + std::to_string(i), NEBAValue(int64_t{i}), now_)));
    }
    EXPECT_TRUE(database_->updateUserAttribute(
        *NEBAUserAttribute::initWithName("p7", NEBAValue("new"), now_)));
    auto full =
        database_->updateUserAttribute(*NEBAUserAttribute::initWithName("p50", NEBAValue(1), now_));
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().localizedDescription(), "Failed to insert data type. Table is full");
    EXPECT_FALSE(
        database_->upsertRecord(NEBADatabase::Record{{"last_bundle_index", ns::Value(1)},
                                                     {"last_bundle_end_timestamp", ns::Value(1.0)}},
                                "app_metadata", "rowid", "2", 1));
    EXPECT_EQ(count("app_metadata"), 1);
}

TEST_F(NEBADatabaseQueuesTest, MetadataCountersPropertiesAndStoredConfiguration) {
    auto counts = database_->dailyCounts();
    ASSERT_TRUE(counts && *counts);
    EXPECT_EQ((*counts)->day(), database_->currentDay());
    EXPECT_EQ((*counts)->allEventsCount(), 0);
    auto config = database_->queryACPMeasurementConfig();
    ASSERT_TRUE(config);
    EXPECT_FALSE(*config);
    EXPECT_FALSE(*database_->lastRemoteConfigUpdateTimestamp());

    NEB_MEASUREMENT::ACPMeasurementConfig remote;
    remote.set_nmp_app_id("1:1:ios:1");
    remote.set_version(9);
    ASSERT_TRUE(database_->updateRemoteConfig(remote));
    NEBADailyCounts updated(12, 1, 2, 3, 4, 5);
    ASSERT_TRUE(database_->updateDailyCounts(updated));
    EXPECT_EQ((**database_->queryACPMeasurementConfig()).version(), 9);
    EXPECT_EQ((**database_->queryAppMetadata()).lastBundleIndex(), 0);
    EXPECT_EQ((**database_->dailyCounts()).realtimeCount(), 5);

    for (const char* name : {"_e", "_s", "shop"}) {
        ASSERT_TRUE(
            database_->updateEventAggregates(*NEBAEventAggregates::initWithName(name, 1, 1, now_)));
    }
    EXPECT_EQ(*database_->publicEventCount(), 1);

    for (const char* name : {"_fot", "user_id", "nebula_x", "color", "_ltv_USD", "xltvxEUR"}) {
        ASSERT_TRUE(database_->updateUserAttribute(
            *NEBAUserAttribute::initWithName(name, NEBAValue(3.5), now_)));
    }
    auto publicOnes = database_->userAttributesIncludingInternal(false);
    ASSERT_TRUE(publicOnes);
    ASSERT_EQ(publicOnes->size(), 2u);  // color and xltvxEUR
    auto lifetime = database_->allLifetimeValueUserAttributes();
    ASSERT_TRUE(lifetime);
    ASSERT_EQ(lifetime->size(), 1u);
    EXPECT_EQ(lifetime->front().name(), "_ltv_USD");
    EXPECT_TRUE(lifetime->front().value().isDouble());

    ASSERT_TRUE(database_->sqliteStore().updateRecord(
        {{"remote_config_data", ns::Value(ns::Data::fromString("\x0a\xff"))}}, "app_metadata",
        "rowid", "1"));
    auto corrupt = database_->queryACPMeasurementConfig();
    ASSERT_FALSE(corrupt);
    EXPECT_EQ(corrupt.error().localizedDescription(), "Remote config data is corrupted");
}

TEST_F(NEBADatabaseQueuesTest, AudienceStorage) {
    NEBAEventFilter first{3, 1, "_s", ns::Data::fromString("a")};
    NEBAEventFilter second{3, 1, "_s", ns::Data::fromString("b")};
    ASSERT_TRUE(database_->updateEventFilters({first, second}));
    ASSERT_TRUE(database_->updatePropertyFilters({{3, 2, "_fot", ns::Data::fromString("p")}}));
    auto filters = database_->eventFiltersForEventName("_s");
    ASSERT_TRUE(filters && filters->size() == 1);
    EXPECT_EQ(filters->front().data, ns::Data::fromString("b"));
    EXPECT_TRUE(database_->eventFiltersForEventName("none")->empty());
    EXPECT_EQ(*database_->allAudienceIDs(), std::vector<int32_t>{3});

    ASSERT_TRUE(database_->updateFilterResults(
        {{3, ns::Data::fromString("c"), {}}, {7, ns::Data::fromString("d"), {}}}));
    auto result = database_->filterResultForAudienceID(3);
    ASSERT_TRUE(result && *result);
    EXPECT_TRUE((*result)->previousResults.empty());
    ASSERT_TRUE(database_->deleteFilterResults({{3, {}, {}}, {7, {}, {}}, {3, {}, {}}}));
    EXPECT_TRUE(database_->allFilterResults()->empty());
    EXPECT_FALSE(database_->updateFilterResults({{4, {}, {}}}));
}

}  // namespace
