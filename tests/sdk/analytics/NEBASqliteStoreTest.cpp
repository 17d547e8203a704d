// The generic store: statement reuse, reads that fail part-way, binding, transactions, and a
// disk that is full.
#include <filesystem>

#include "tests/sdk/analytics/AnalyticsFixture.h"
#include "tests/sdk/analytics/FullDiskVfs.h"

namespace {

using analyticstest::AnalyticsTest;

class NEBASqliteStoreTest : public AnalyticsTest {
protected:
    void SetUp() override {
        AnalyticsTest::SetUp();
        store_ = NEBASqliteStore::initWithDatabasePath(dir_.str() + "/store/plain.sql");
        ASSERT_TRUE(store_);
        ASSERT_TRUE(store_->executeSQL("CREATE TABLE t (a INTEGER, b BLOB, c TEXT)"));
    }
    std::unique_ptr<NEBASqliteStore> store_;
};

TEST_F(NEBASqliteStoreTest, StatementsWithPlaceholdersOrWithoutConditionsAreReusedOthersAreNot) {
    size_t before = store_->cachedStatementCount();
    ASSERT_TRUE(store_->deleteRecordsFromTableWithName("t", "rowid IN (?,?)",
                                                       {ns::Value(1), ns::Value(2)}));
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
    ASSERT_TRUE(store_->deleteRecordsFromTableWithName("t", "a = 1"));
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
    ASSERT_TRUE(store_->deleteAllRecordsFromTableWithName("t"));
    EXPECT_EQ(store_->cachedStatementCount(), before + 2);

    auto unbound = store_->deleteRecordsFromTableWithName("t", "a = ?");
    ASSERT_FALSE(unbound);
    EXPECT_EQ(unbound.error().localizedDescription(), "Received empty parameters");
    EXPECT_EQ(store_->cachedStatementCount(), before + 2);

    // Lists of every length each make a text of their own: the cache keeps a bounded number.
    for (int n = 1; n <= 200; ++n) {
        std::string list;
        NEBASqliteStore::Values values;
        for (int i = 0; i < n; ++i) {
            list += i ? ",?" : "?";
            values.emplace_back(i);
        }
        ASSERT_TRUE(store_->deleteRecordsFromTableWithName("t", "rowid IN (" + list + ")", values));
    }
    EXPECT_LE(store_->cachedStatementCount(), NEBASqliteStore::kStatementCacheCapacity);
}

TEST_F(NEBASqliteStoreTest, ReadsRecordsWithTheirKindsAndLeavesEmptyBlobsOut) {
    ASSERT_TRUE(store_->upsertRecord(
        {{"a", ns::Value(3)}, {"b", ns::Value(ns::Data())}, {"c", ns::Value("x")}}, "t"));
    ASSERT_TRUE(store_->upsertRecord(
        {{"a", ns::Value(2.5)}, {"b", ns::Value(ns::Data::fromString("z"))}}, "t"));
    auto records = store_->recordsForQuery("select rowid, * from t ORDER BY rowid");
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 2u);
    EXPECT_TRUE((*records)[0].at("a").type() == ns::Value::Type::Integer);
    EXPECT_FALSE((*records)[0].contains("b"));
    EXPECT_TRUE((*records)[1].at("a").isDouble());
    EXPECT_TRUE((*records)[1].at("c").isNull());
    EXPECT_EQ(*(*records)[1].at("b").data(), ns::Data::fromString("z"));

    auto notSelect = store_->recordsForQuery("WITH x AS (SELECT 1) SELECT * FROM x");
    ASSERT_FALSE(notSelect);
    EXPECT_EQ(notSelect.error().localizedDescription(), "Received invalid select query");
    auto max = store_->numberForQuery("SELECT MAX(a) FROM t WHERE a > 100");
    ASSERT_TRUE(max);
    EXPECT_TRUE(max->isNull());
    EXPECT_FALSE(store_->upsertRecord({{"a", ns::Value(ns::Array{})}}, "t"));
    EXPECT_FALSE(store_->executeSQL("SELECT 1; SELECT 2"));
}

TEST_F(NEBASqliteStoreTest, AReadThatFailsPartWayIsAnErrorNotAShortAnswer) {
    ASSERT_TRUE(store_->upsertRecord({{"a", ns::Value(1)}}, "t"));
    ASSERT_TRUE(store_->upsertRecord({{"a", ns::Value(INT64_MIN)}}, "t"));
    // abs() of the smallest integer overflows on the second row.
    auto records = store_->recordsForQuery("SELECT abs(a) AS v FROM t ORDER BY rowid");
    ASSERT_FALSE(records);
    EXPECT_EQ(records.error().code(), 3);
    EXPECT_EQ(neba_monitorContext(records.error()).substr(0, 14), "query records,");
}

TEST_F(NEBASqliteStoreTest, BoundBytesAreCopiedSoTheCallersBufferMayGo) {
    {
        auto statement =
            store_->statementForQuery("INSERT INTO t (b) VALUES (?)",
                                      {ns::Value(ns::Data::fromString(std::string(4096, 'q')))});
        ASSERT_TRUE(statement);
        std::string other(4096, 'x');  // reuses the freed buffer's memory
        ASSERT_EQ(sqlite3_step(statement->get()), SQLITE_DONE);
    }
    auto records = store_->recordsForQuery("SELECT b FROM t");
    ASSERT_TRUE(records && records->size() == 1);
    EXPECT_EQ(*records->front().at("b").data(), ns::Data::fromString(std::string(4096, 'q')));
}

TEST_F(NEBASqliteStoreTest, TransactionsCommitRollBackAndDoNotNest) {
    EXPECT_TRUE(store_->performTransaction([&] {
        return bool(store_->upsertRecord({{"a", ns::Value(1)}}, "t"));
    }));
    EXPECT_FALSE(store_->performTransaction([&] {
        (void)store_->upsertRecord({{"a", ns::Value(2)}}, "t");
        return false;
    }));
    EXPECT_THROW(store_->performTransaction([&]() -> bool {
        (void)store_->upsertRecord({{"a", ns::Value(3)}}, "t");
        throw std::runtime_error("block failed");
    }),
                 std::runtime_error);
    EXPECT_FALSE(store_->performTransaction(
        [&] { return store_->performTransaction([] { return true; }); }));
    auto count = store_->rowCountForTableWithName("t");
    ASSERT_TRUE(count);
    EXPECT_EQ(count->integerValue(), 1);
}

TEST_F(NEBASqliteStoreTest, AReadInsideAReadOfTheSameTextGetsAStatementOfItsOwn) {
    for (int a = 1; a <= 3; ++a) ASSERT_TRUE(store_->upsertRecord({{"a", ns::Value(a)}}, "t"));
    const std::string sql = "SELECT a FROM t WHERE a > ? ORDER BY a";
    std::vector<int64_t> outer;
    std::vector<size_t> inner;
    auto read = store_->recordsForQuery(sql, {ns::Value(0)}, [&](size_t, const auto& record) {
        outer.push_back(record.at("a").integerValue());
        auto nested = store_->recordsForQuery(sql, {ns::Value(1)});
        inner.push_back(nested ? nested->size() : 0);
        return outer.size() < 10;  // a read that restarts would go on for ever
    });
    ASSERT_TRUE(read);
    EXPECT_EQ(outer, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(inner, (std::vector<size_t>{2, 2, 2}));
    // The cached statement is free again afterwards.
    EXPECT_EQ(store_->recordsForQuery(sql, {ns::Value(2)})->size(), 1u);
}

// A statement lent while the cache holds another of its text (a read inside a read of the same
// text, or one begun before the connection was closed and opened again) is its lease's own: its
// end is said, and it is finalized then, never before.
TEST_F(NEBASqliteStoreTest, AStatementBesideTheCachedOneOfItsTextIsSaidWhenItEnds) {
    for (int a = 1; a <= 3; ++a) ASSERT_TRUE(store_->upsertRecord({{"a", ns::Value(a)}}, "t"));
    const std::string sql = "SELECT a FROM t ORDER BY a";
    auto said = [&] {
        auto lines = logs().lines();
        return std::count(lines.begin(), lines.end(),
                          "<NEBAnalytics/WARNING> Statement is not the same one in the cache");
    };
    auto read = store_->recordsForQuery(
        sql, {}, [&](size_t, const auto&) { return bool(store_->recordsForQuery(sql)); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 3u);
    EXPECT_EQ(said(), 3);
    ASSERT_TRUE(store_->recordsForQuery(sql));
    EXPECT_EQ(said(), 3);

    {
        auto lent = store_->statementForQuery(sql);
        ASSERT_TRUE(lent);
        ASSERT_EQ(sqlite3_step(lent->get()), SQLITE_ROW);
        store_->closeDatabase();
        ASSERT_TRUE(store_->openAndValidateDatabase());
        auto again = store_->recordsForQuery(sql);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->size(), 3u);
        EXPECT_EQ(said(), 4);
        EXPECT_EQ(sqlite3_step(lent->get()), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int64(lent->get(), 0), 2);
    }
    auto after = store_->recordsForQuery(sql);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size(), 3u);
    EXPECT_EQ(said(), 4);
}

TEST_F(NEBASqliteStoreTest, ACommitThatFailsIsRolledBackSoTheNextTransactionCanBegin) {
    // A deferred constraint is checked at the commit, which then fails and leaves the
    // transaction open, as a busy or failing commit can.
    ASSERT_TRUE(store_->executeSQL("PRAGMA foreign_keys = ON"));
    ASSERT_TRUE(store_->executeSQL(
        "CREATE TABLE child (p INTEGER REFERENCES t(a) DEFERRABLE INITIALLY DEFERRED)"));
    ASSERT_TRUE(store_->executeSQL("CREATE UNIQUE INDEX t_a ON t(a)"));
    EXPECT_FALSE(store_->performTransaction([&] {
        return bool(store_->upsertRecord({{"p", ns::Value(42)}}, "child"));
    }));
    EXPECT_TRUE(store_->performTransaction([&] {
        return bool(store_->upsertRecord({{"a", ns::Value(2)}}, "t"));
    }));
    EXPECT_EQ(store_->rowCountForTableWithName("child")->integerValue(), 0);
    EXPECT_EQ(store_->rowCountForTableWithName("t")->integerValue(), 1);
}

class NEBADatabaseDiskFullTest : public AnalyticsTest {
protected:
    analyticstest::FullDiskVfs vfs_;
};

TEST_F(NEBADatabaseDiskFullTest, AWriteToAFullDiskFailsAndTheFileKeepsItsData) {
    auto event = NEBAEvent::initWithOrigin("app", true, "kept_event", 1.7e9, 0, {});
    ASSERT_TRUE(event);
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
        ASSERT_TRUE(database->insertRawEvent(*event, 1, false));
        vfs_.setFull(true);
        ns::Error error;
        bool committed = database->performTransaction([&] {
            auto inserted = database->insertRawEvent(*event, 1, false);
            if (!inserted) error = inserted.error();
            return bool(inserted);
        });
        EXPECT_FALSE(committed);
        EXPECT_EQ(error.code(), 3);
        EXPECT_NE(error.localizedDescription().find("sqlite code 13"), std::string::npos)
            << error.localizedDescription();
        EXPECT_FALSE(database->insertRawEvent(*event, 1, false));
    }
    vfs_.setFull(false);
    auto database = openDatabase();
    ASSERT_TRUE(database);
    auto events = database->rawEventsWithMetadataFingerprint(
        1, [](size_t, const NEBASqliteStore::Record&) { return true; });
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ(events->front().rawEvent().name(), "kept_event");
}

TEST_F(NEBADatabaseDiskFullTest, AFreshFileOnAFullDiskIsNotDeletedForFailingToCreateTables) {
    {
        auto database = openDatabase();
        ASSERT_TRUE(database);
        ASSERT_TRUE(database->updateUserAttribute(
            *NEBAUserAttribute::initWithName("kept", NEBAValue(1), 1.0)));
        ASSERT_TRUE(database->sqliteStore().executeSQL("DROP TABLE queue"));
    }
    vfs_.setFull(true);
    EXPECT_FALSE(openDatabase());
    EXPECT_TRUE(std::filesystem::exists(databasePath()));
    vfs_.setFull(false);
    auto database = openDatabase();
    ASSERT_TRUE(database);
    auto kept = database->userAttributeWithName("kept");
    ASSERT_TRUE(kept && *kept);
}

}  // namespace
