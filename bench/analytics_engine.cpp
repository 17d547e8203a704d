// Events from the analytics facade to a committed raw-event row, against the floor that the
// disk sets: SQLite used directly with one prepared INSERT per committed transaction in the
// same folder, with the store's journal mode and sync setting. ratio = ours / baseline (time per
// event): the engine commits two transactions per event (daily counts, then the row with its
// metadata), so about 2 is the expected cost.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAnalytics.h"

namespace {

using Clock = std::chrono::steady_clock;

class QuietLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_LogEventToCommittedRow(benchmark::State& state) {
    const int64_t n = state.range(0);
    ns::Log::setStandardErrorEnabled(false);
    std::string dir = (std::filesystem::temp_directory_path() / "bench-engine-XXXXXX").string();
    if (!mkdtemp(dir.data()) || !ns::Sandbox::configure(dir)) std::abort();
    auto monitor = std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0);
    NEBAMonitor::setShared(monitor);
    auto options = std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(
        ns::Dictionary{{kNEBNebulaAppID, ns::Value("1:1:ios:bench")}}));
    auto engine = NEBAMeasurement::initWithDatabaseName(
        NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
        std::make_shared<NEBAScheduler>("bench.measurement.worker"), options,
        NEBAMeasurement::Context{NEBServices::standard(), monitor, NEBAnalytics::eventPort()});
    NEBAMeasurement::ScopedSharedOverride shared(engine);
    // Instance identity is asked for its ID with every event; the bench leaves it out.
    NEBAIdentity::ScopedInstanceIDSource instanceID(
        [] { return ns::Result<std::string>(std::string("bench-instance")); });
    NEBAnalytics::ScopedState facade;
    NEBAnalytics::setIsAnalyticsEnabled(true);
    auto worker = engine->scheduler()->workerQueue();
    auto storedRows = [&] {
        return worker->sync([&]() -> int64_t {
            if (!engine->database()) return -1;
            auto count = engine->database()->sqliteStore().rowCountForTableWithName("raw_events");
            return count ? count->integerValue() : -1;
        });
    };
    // The engine's own start-up events (first open) are not measured.
    while (storedRows() < 0) {
    }

    sqlite3* raw = nullptr;
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_open((dir + "/raw.sql").c_str(), &raw) != SQLITE_OK) std::abort();
    // The store's own journal and sync settings: a write-ahead log with normal syncs.
    sqlite3_exec(raw, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(raw,
                 "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
                 "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(raw, "INSERT INTO raw_events VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
    const std::string blob(60, 'x');

    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        // Fresh daily counts and an empty table, so that no limit or trim is measured.
        worker->sync([&] {
            auto* db = engine->database();
            (void)db->updateDailyCounts(NEBADailyCounts(db->currentDay(), 0, 0, 0, 0, 0));
            (void)db->deleteRawEventsWithMaxRowID(INT64_MAX);
        });
        auto t0 = Clock::now();
        for (int64_t i = 0; i < n; ++i)
            NEBAnalytics::logEventWithName(ns::Value("level_complete"),
                                           {{"level", ns::Value(static_cast<long long>(i))}});
        while (storedRows() < n) {
        }
        auto t1 = Clock::now();
        for (int64_t i = 0; i < n; ++i) {
            sqlite3_exec(raw, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
            sqlite3_bind_text(insert, 1, "level_complete", -1, SQLITE_STATIC);
            sqlite3_bind_int64(insert, 2, 1700000000000 + i);
            sqlite3_bind_int64(insert, 3, 42);
            sqlite3_bind_blob(insert, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
            sqlite3_bind_int64(insert, 5, 0);
            if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
            sqlite3_reset(insert);
            sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        }
        auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        baseTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["ratio"] = oursTotal / baseTotal;
    sqlite3_finalize(insert);
    sqlite3_close(raw);
    worker->sync([] {});
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace

BENCHMARK(BM_LogEventToCommittedRow)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
