// Audience evaluation of events, against SQLite and the protocol-buffer library used directly:
// 50 audiences of 10 event filters, one filter per audience on each of 10 event names, each a
// count condition that never holds (so that every event evaluates 50 filters and writes 50
// results). The baseline does the same work by hand in one transaction with prepared
// statements: reads the filters of the event's name, each audience's result, parses both
// messages, compares the count, writes the result. ratio = ours / baseline (time); items are
// events, and the time per event stays the same from 1,000 to 2,000 events.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBAAudience.h"
#include "sdk/analytics/NEBALogging.h"

namespace {

using Clock = std::chrono::steady_clock;
using NEB_MEASUREMENT::ACPAudience;
using NEB_MEASUREMENT::ACPEventFilter;
using NEB_MEASUREMENT::ACPResultData;

constexpr int kAudiences = 50;
constexpr int kFilters = 10;
constexpr const char* kAppID = "1:1:ios:bench";
constexpr const char* kNever = "1000000000";

class QuietLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string eventName(int i) {
    return "level_" + std::to_string(i % kFilters);
}

NEBAAudience::Audiences definitions() {
    NEBAAudience::Audiences audiences;
    for (int a = 0; a < kAudiences; ++a) {
        ACPAudience* audience = audiences.Add();
        audience->set_audience_id(a);
        for (int f = 0; f < kFilters; ++f) {
            auto* filter = audience->add_event_filters();
            filter->set_id(f);
            filter->set_event_name(eventName(f));
            auto* count = filter->mutable_event_count_filter();
            count->set_comparison_type(NEB_MEASUREMENT::ACPNumberFilter::GreaterThan);
            count->set_comparison_value(kNever);
        }
    }
    return audiences;
}

// The same tables, filled with the same rows, in a file of SQLite's own.
class Baseline {
public:
    explicit Baseline(const std::string& path) {
        sqlite3_open(path.c_str(), &db_);
        sqlite3_exec(db_,
                     "CREATE TABLE event_filters (audience_id INTEGER NOT NULL, filter_id INTEGER "
                     "NOT NULL, event_name TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY "
                     "(audience_id, filter_id));"
                     "CREATE TABLE audience_filter_values (audience_id INTEGER NOT NULL PRIMARY "
                     "KEY, current_results BLOB, previous_results BLOB);",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO event_filters VALUES (?, ?, ?, ?)", -1, &insert,
                           nullptr);
        for (const auto& audience : definitions()) {
            for (const auto& filter : audience.event_filters()) {
                std::string bytes = filter.SerializeAsString();
                sqlite3_bind_int(insert, 1, audience.audience_id());
                sqlite3_bind_int(insert, 2, filter.id());
                sqlite3_bind_text(insert, 3, filter.event_name().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_blob(insert, 4, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        }
        sqlite3_finalize(insert);
        sqlite3_prepare_v2(db_,
                           "SELECT audience_id, filter_id, data FROM event_filters WHERE "
                           "event_name = ?",
                           -1, &filters_, nullptr);
        sqlite3_prepare_v2(db_,
                           "SELECT current_results FROM audience_filter_values WHERE "
                           "audience_id = ?",
                           -1, &result_, nullptr);
        sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO audience_filter_values VALUES (?, ?, NULL)",
                           -1, &write_, nullptr);
    }
    ~Baseline() {
        sqlite3_finalize(filters_);
        sqlite3_finalize(result_);
        sqlite3_finalize(write_);
        sqlite3_close(db_);
    }

    void evaluate(int events) {
        sqlite3_exec(db_, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
        for (int i = 0; i < events; ++i) {
            const std::string name = eventName(i);
            const int64_t lifetime = i / kFilters + 1;
            sqlite3_bind_text(filters_, 1, name.c_str(), -1, SQLITE_STATIC);
            while (sqlite3_step(filters_) == SQLITE_ROW) {
                const int audience = sqlite3_column_int(filters_, 0);
                const int id = sqlite3_column_int(filters_, 1);
                ACPEventFilter filter;
                filter.ParseFromArray(sqlite3_column_blob(filters_, 2),
                                      sqlite3_column_bytes(filters_, 2));
                ACPResultData words;
                sqlite3_bind_int(result_, 1, audience);
                if (sqlite3_step(result_) == SQLITE_ROW)
                    words.ParseFromArray(sqlite3_column_blob(result_, 0),
                                         sqlite3_column_bytes(result_, 0));
                sqlite3_reset(result_);
                const uint64_t bit = uint64_t{1} << id;
                uint64_t status = words.status_size() ? words.status(0) : 0;
                uint64_t results = words.results_size() ? words.results(0) : 0;
                if (status & results & bit) continue;
                const auto& text = filter.event_count_filter().comparison_value();
                int64_t threshold = 0;
                std::from_chars(text.data(), text.data() + text.size(), threshold);
                const bool holds = lifetime > threshold;
                status |= bit;
                results = holds ? (results | bit) : (results & ~bit);
                ACPResultData updated;
                updated.add_status(status);
                updated.add_results(results);
                const std::string bytes = updated.SerializeAsString();
                sqlite3_bind_int(write_, 1, audience);
                sqlite3_bind_blob(write_, 2, bytes.data(), int(bytes.size()), SQLITE_STATIC);
                sqlite3_step(write_);
                sqlite3_reset(write_);
            }
            sqlite3_reset(filters_);
        }
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* filters_ = nullptr;
    sqlite3_stmt* result_ = nullptr;
    sqlite3_stmt* write_ = nullptr;
};

void BM_EvaluateEventsAgainstAudiences(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    ns::Log::setStandardErrorEnabled(false);
    std::string dir = (std::filesystem::temp_directory_path() / "bench-audience-XXXXXX").string();
    if (!mkdtemp(dir.data()) || !ns::Sandbox::configure(dir)) std::abort();
    NEBAMonitor::setShared(std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0));
    auto config = NEBAPersistedConfig::initWithSuiteName("bench.measurement");
    auto database = NEBADatabase::initWithDatabaseName(NEBADatabase::kDatabaseName, config);
    if (!database) std::abort();
    NEB_MEASUREMENT::ACPMeasurementConfig settings;
    settings.set_nmp_app_id(kAppID);
    auto setting = settings.add_settings();
    setting->set_key("measurement.audience.max_count");
    setting->set_value("500");
    auto remote = NEBARemoteConfig::initWithNMPAppID(kAppID, database.get(), settings);
    auto audience = NEBAAudience::initWithDatabase(database.get(), remote);
    if (!database->performTransaction([&] { return audience->updateACPAudiences(definitions()); }))
        std::abort();
    Baseline baseline(dir + "/baseline.sql");

    std::vector<NEBAEvent> logged;
    std::vector<NEBAEventAggregates> counts;
    for (int i = 0; i < events; ++i) {
        logged.push_back(*NEBAEvent::initWithOrigin("app", true, eventName(i), 1.8e9 + i, 0,
                                                    {{"level", ns::Value(i)}}));
        counts.push_back(*NEBAEventAggregates::initWithName(eventName(i), i / kFilters + 1, 0, 0));
    }
    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        bool evaluated = database->performTransaction([&] {
            for (int i = 0; i < events; ++i)
                if (!audience->evaluateFiltersForEvent(logged[i], counts[i])) return false;
            return true;
        });
        auto t1 = Clock::now();
        baseline.evaluate(events);
        auto t2 = Clock::now();
        if (!evaluated) std::abort();
        oursTotal += seconds(t1 - t0);
        baseTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.SetItemsProcessed(state.iterations() * events);
    state.counters["ratio"] = oursTotal / baseTotal;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace

BENCHMARK(BM_EvaluateEventsAgainstAudiences)
    ->Arg(1000)
    ->Arg(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
