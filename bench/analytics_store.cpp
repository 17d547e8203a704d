// The analytics store against SQLite used directly, and name validation against ICU's set
// span. Each benchmark times our call and the baseline in the same iteration and reports
// ratio = ours / baseline (time), so below 1 is faster than the library alone.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBALogging.h"

namespace {

using Clock = std::chrono::steady_clock;

class QuietLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Times `ours` and `baseline` once per iteration; the iteration time is ours.
void compare(benchmark::State& state, int64_t items, const std::function<void()>& ours,
             const std::function<void()>& baseline) {
    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        ours();
        auto t1 = Clock::now();
        baseline();
        auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        baseTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.SetItemsProcessed(state.iterations() * items);
    state.counters["ratio"] = oursTotal / baseTotal;
}

// A sandbox with the analytics database, and a second file in the same folder with the same
// raw_events table for SQLite's side: one prepared INSERT, reused, as its documentation
// recommends.
struct Stores {
    Stores() {
        ns::Log::setStandardErrorEnabled(false);
        std::string dir =
            (std::filesystem::temp_directory_path() / "bench-analytics-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        sandbox = dir;
        if (!ns::Sandbox::configure(sandbox)) std::abort();
        NEBAMonitor::setShared(
            std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0));
        database = NEBADatabase::initWithDatabaseName(NEBADatabase::kDatabaseName, nullptr);
        if (!database) std::abort();
        if (sqlite3_open((sandbox + "/raw.sql").c_str(), &raw) != SQLITE_OK) std::abort();
        // The store's own journal and sync settings: a write-ahead log with normal syncs.
        sqlite3_exec(raw, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr);
        sqlite3_exec(
            raw,
            "CREATE TABLE raw_events ( name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
            "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
            nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(
            raw,
            "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
            "VALUES (?, ?, ?, ?, ?)",
            -1, &insert, nullptr);
        event = NEBAEvent::initWithOrigin("app", true, "level_complete", 1.7e9, 0,
                                          {{"level", ns::Value(12)},
                                           {"score", ns::Value(1234.5)},
                                           {"character", ns::Value("wizard")}});
        auto proto = event->protoEvent();
        proto.clear_name();
        eventBytes = proto.SerializeAsString();
    }
    ~Stores() {
        sqlite3_finalize(insert);
        sqlite3_close(raw);
        database.reset();
        std::error_code ignored;
        std::filesystem::remove_all(sandbox, ignored);
    }

    void rawInsert() {
        sqlite3_bind_text(insert, 1, "level_complete", -1, SQLITE_STATIC);
        sqlite3_bind_double(insert, 2, 1.7e9);
        sqlite3_bind_int64(insert, 3, 42);
        sqlite3_bind_blob(insert, 4, eventBytes.data(), static_cast<int>(eventBytes.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int64(insert, 5, 0);
        if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
        sqlite3_reset(insert);
    }

    std::string sandbox;
    std::unique_ptr<NEBADatabase> database;
    sqlite3* raw = nullptr;
    sqlite3_stmt* insert = nullptr;
    std::optional<NEBAEvent> event;
    std::string eventBytes;
};

// One event per transaction, as events are logged one at a time.
void BM_InsertRawEventOnePerTransaction(benchmark::State& state) {
    Stores stores;
    const int64_t n = state.range(0);
    compare(
        state, n,
        [&] {
            for (int64_t i = 0; i < n; ++i) {
                stores.database->performTransaction([&] {
                    return bool(stores.database->insertRawEvent(*stores.event, 42, false));
                });
            }
        },
        [&] {
            for (int64_t i = 0; i < n; ++i) {
                sqlite3_exec(stores.raw, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
                stores.rawInsert();
                sqlite3_exec(stores.raw, "COMMIT", nullptr, nullptr, nullptr);
            }
        });
}

// Many events in one transaction.
void BM_InsertRawEventBatch(benchmark::State& state) {
    Stores stores;
    const int64_t n = state.range(0);
    compare(
        state, n,
        [&] {
            stores.database->performTransaction([&] {
                for (int64_t i = 0; i < n; ++i) {
                    if (!stores.database->insertRawEvent(*stores.event, 42, false)) return false;
                }
                return true;
            });
        },
        [&] {
            sqlite3_exec(stores.raw, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
            for (int64_t i = 0; i < n; ++i) stores.rawInsert();
            sqlite3_exec(stores.raw, "COMMIT", nullptr, nullptr, nullptr);
        });
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    const char* stems[] = {"level_complete",
                           "purchase",
                           "screen_view",
                           "caf\xC3\xA9_visit",
                           "\xE6\x97\xA5\xE6\x9C\xAC_event",
                           "tutorial_begin",
                           "select_content",
                           "\xD0\xBF\xD0\xBE\xD0\xB8\xD1\x81\xD0\xBA"};
    for (int i = 0; i < 4096; ++i)
        out.push_back(std::string(stems[i % 8]) + "_" + std::to_string(i));
    return out;
}

// Name characters: the validator against a frozen ICU set spanning the same UTF-8 names.
void BM_ValidateNames(benchmark::State& state) {
    ns::Log::setStandardErrorEnabled(false);
    NEBAMonitor::setShared(std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0));
    auto all = names();
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(icu::UnicodeString::fromUTF8("[[:L:][:Nd:]_]"), status);
    if (U_FAILURE(status)) std::abort();
    set.freeze();
    size_t valid = 0;
    compare(
        state, static_cast<int64_t>(all.size()),
        [&] {
            for (const auto& name : all)
                valid += NEBADataTypeValidator::containsOnlyNameCharacters(name);
        },
        [&] {
            for (const auto& name : all) {
                auto length = static_cast<int32_t>(name.size());
                valid += set.spanUTF8(name.data(), length, USET_SPAN_CONTAINED) == length;
            }
        });
    benchmark::DoNotOptimize(valid);
}

}  // namespace

BENCHMARK(BM_InsertRawEventOnePerTransaction)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertRawEventBatch)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateNames)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
