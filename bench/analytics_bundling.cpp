// Bundling stored raw events into gzipped measurement bundles, against the same work done with
// SQLite, protobuf and zlib called directly as their documentation recommends for speed.
//
// The baseline keeps the same tables in its own file, in the same journal mode (write-ahead
// log, normal syncs), and makes each bundle in one transaction with prepared statements:
// find the oldest group, read its rows in row order (the first 1000 of one hour within the
// size limit), parse each row's event into a copy of the group's metadata, read and write the
// event counts of each name and the bundle number, serialise the bundle, gzip it in one call
// (zlib, gzip header, default level), queue it, delete the bundled rows and, when its last row
// went, the group's metadata. ratio = ours / that baseline (time).
//
// codec_ratio compares ours with the codec work alone (parse the stored bytes, serialise and
// gzip each bundle, all in memory): what remains of ours once storage is free.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "sdk/analytics/NSData+MD5.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;
using Event = NEB_MEASUREMENT::ACPEvent;

constexpr int64_t kMaxEventsPerBundle = 1000;
constexpr int64_t kMaxBundleSize = 65536;
constexpr const char* kAppID = "1:1:ios:bench";

class QuietLogger : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string gzip(const std::string& bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The size an event adds to a bundle: its stored bytes and its name field.
int64_t eventSize(int64_t storedBytes, size_t nameLength) {
    int64_t lengthBytes = 1;
    for (size_t n = nameLength; n >= 0x80; n >>= 7) ++lengthBytes;
    return storedBytes + 1 + lengthBytes + static_cast<int64_t>(nameLength);
}

// --- The workload ----------------------------------------------------------------------

struct Row {
    size_t group;  // index into Workload::metadata
    std::string name;
    double timestamp;
    std::string bytes;  // the stored event: its message without the name
};

struct Workload {
    std::vector<Bundle> metadata;
    std::vector<Row> rows;
};

// `events` events under `groups` metadata records, in one UTC hour so that only the count and
// size limits cut bundles.
Workload makeWorkload(int64_t events, int64_t groups) {
    Workload work;
    const double start = std::floor(dispatch::Clock::current().wallTime() / 3600) * 3600 + 1;
    for (int64_t g = 0; g < groups; ++g) {
        Bundle metadata;
        metadata.set_platform("ios");
        metadata.set_app_id("com.example.bench");
        metadata.set_app_version("1." + std::to_string(g));
        metadata.set_app_instance_id("0123456789ABCDEF0123456789ABCDEF");
        metadata.set_nmp_app_id(kAppID);
        work.metadata.push_back(metadata);
    }
    work.rows.reserve(static_cast<size_t>(events));
    for (int64_t i = 0; i < events; ++i) {
        auto event = NEBAEvent::initWithOrigin(
            "app", true, "level_" + std::to_string(i % 10), start + static_cast<double>(i) * 0.03,
            0, {{"level", ns::Value(i)}, {"score", ns::Value(static_cast<double>(i) * 0.5)}});
        auto proto = event->protoEvent();
        proto.clear_name();
        work.rows.push_back(Row{static_cast<size_t>(i % groups), event->name(), event->timestamp(),
                                proto.SerializeAsString()});
    }
    return work;
}

// --- Ours ------------------------------------------------------------------------------

struct Engine {
    Engine() {
        ns::Log::setStandardErrorEnabled(false);
        dir = (std::filesystem::temp_directory_path() / "bench-bundling-XXXXXX").string();
        if (!mkdtemp(dir.data()) || !ns::Sandbox::configure(dir)) std::abort();
        auto monitor = std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0);
        NEBAMonitor::setShared(monitor);
        auto options = std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(
            ns::Dictionary{{kNEBNebulaAppID, ns::Value(kAppID)},
                           {kNEBBundleID, ns::Value("com.example.bench")}}));
        engine = NEBAMeasurement::initWithDatabaseName(
            NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
            std::make_shared<NEBAScheduler>("bench.measurement.worker"), options,
            NEBAMeasurement::Context{NEBServices::standard(), monitor, NEBAnalytics::eventPort()});
        worker = engine->scheduler()->workerQueue();
        while (!worker->sync([&] { return engine->database() != nullptr; })) {
        }
        // A fetched configuration, as in the field: bundles carry its version.
        worker->sync([&] {
            NEB_MEASUREMENT::ACPMeasurementConfig config;
            config.set_nmp_app_id(kAppID);
            config.set_version(1);
            auto* setting = config.add_settings();
            setting->set_key("measurement.upload.max_bundles");
            setting->set_value("100");
            if (!engine->engineRemoteConfig()->updateACPMeasurementConfig(&config)) std::abort();
        });
        // What the engine logged of its own start (the first open) is not part of the work.
        bundleAll();
        emptyQueue();
    }
    ~Engine() {
        worker->sync([] {});
        engine.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    void store(const Workload& work) {
        worker->sync([&] {
            auto* db = engine->database();
            db->performTransaction([&] {
                std::vector<int64_t> fingerprints;
                for (const auto& metadata : work.metadata) {
                    if (!db->insertIfNotExistsRawEventMetadata(metadata)) std::abort();
                    fingerprints.push_back(neba_64LSBMD5(metadata.SerializeAsString()));
                }
                for (const auto& row : work.rows) {
                    Event proto;
                    if (!proto.ParseFromString(row.bytes)) std::abort();
                    proto.set_name(row.name);
                    auto event = NEBADatabase::eventFromStoredEvent(row.name, row.timestamp, proto);
                    if (!event || !db->insertRawEvent(*event, fingerprints[row.group], false))
                        std::abort();
                }
                return true;
            });
        });
    }

    // On the worker's own thread, as the upload runs it: a synchronous call from the main
    // thread would run there, and the engine reports every such call.
    int64_t bundleAll() {
        std::promise<int64_t> made;
        worker->async([&] {
            int64_t count = 0;
            while (engine->bundleRawEvents()) ++count;
            made.set_value(count);
        });
        return made.get_future().get();
    }

    // The queue is emptied for the next round, as uploads would.
    void emptyQueue() {
        worker->sync([&] {
            if (!engine->database()->sqliteStore().executeSQL("DELETE FROM queue")) std::abort();
        });
    }

    std::string dir;
    NEBAIdentity::ScopedInstanceIDSource instanceID{
        [] { return ns::Result<std::string>(std::string("bench-instance")); }};
    std::shared_ptr<NEBAMeasurement> engine;
    std::shared_ptr<dispatch::Queue> worker;
};

// --- The baseline ----------------------------------------------------------------------

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

class RawBundler {
public:
    explicit RawBundler(const std::filesystem::path& file) {
        sqlite3* db = nullptr;
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::abort();
        db_.reset(db);
        exec(
            "PRAGMA journal_mode=WAL;"
            "PRAGMA synchronous=NORMAL;"
            "CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL,"
            " last_bundle_end_timestamp REAL NOT NULL, last_bundle_start_timestamp REAL);"
            "INSERT INTO app_metadata VALUES (0, 0, 0);"
            "CREATE TABLE raw_events_metadata (metadata_fingerprint INTEGER NOT NULL PRIMARY KEY,"
            " metadata BLOB NOT NULL);"
            "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL,"
            " metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER);"
            "CREATE INDEX raw_events_metadata_fingerprint ON raw_events (metadata_fingerprint);"
            "CREATE TABLE events (name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL,"
            " current_bundle_count INTEGER NOT NULL, last_fire_timestamp REAL NOT NULL);"
            "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL,"
            " is_realtime INTEGER);");
        oldest_ = prepare("SELECT metadata_fingerprint FROM raw_events ORDER BY rowid LIMIT 1");
        rows_ = prepare(
            "SELECT rowid, name, timestamp, data FROM raw_events WHERE metadata_fingerprint = ? "
            "ORDER BY rowid LIMIT 1000");
        metadata_ =
            prepare("SELECT metadata FROM raw_events_metadata WHERE metadata_fingerprint = ?");
        counts_ = prepare(
            "SELECT lifetime_count, current_bundle_count, last_fire_timestamp FROM events "
            "WHERE name = ?");
        writeCounts_ = prepare("INSERT OR REPLACE INTO events VALUES (?, ?, ?, ?)");
        app_ = prepare(
            "SELECT last_bundle_index, last_bundle_start_timestamp, last_bundle_end_timestamp "
            "FROM app_metadata WHERE rowid = 1");
        writeApp_ = prepare(
            "UPDATE app_metadata SET last_bundle_index = ?, last_bundle_start_timestamp = ?, "
            "last_bundle_end_timestamp = ? WHERE rowid = 1");
        queue_ = prepare("INSERT INTO queue VALUES (?, ?, 0)");
        deleteRows_ =
            prepare("DELETE FROM raw_events WHERE rowid <= ? AND metadata_fingerprint = ?");
        remains_ = prepare(
            "SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)");
        deleteMetadata_ = prepare("DELETE FROM raw_events_metadata WHERE metadata_fingerprint = ?");
    }

    void store(const Workload& work) {
        exec("BEGIN");
        Statement metadata = prepare("INSERT OR IGNORE INTO raw_events_metadata VALUES (?, ?)");
        std::vector<int64_t> fingerprints;
        for (const auto& bundle : work.metadata) {
            std::string bytes = bundle.SerializeAsString();
            fingerprints.push_back(neba_64LSBMD5(bytes));
            sqlite3_bind_int64(metadata.get(), 1, fingerprints.back());
            sqlite3_bind_blob(metadata.get(), 2, bytes.data(), static_cast<int>(bytes.size()),
                              SQLITE_TRANSIENT);
            step(metadata.get(), SQLITE_DONE);
        }
        Statement insert = prepare("INSERT INTO raw_events VALUES (?, ?, ?, ?, 0)");
        for (const auto& row : work.rows) {
            sqlite3_bind_text(insert.get(), 1, row.name.data(), static_cast<int>(row.name.size()),
                              SQLITE_STATIC);
            sqlite3_bind_double(insert.get(), 2, row.timestamp);
            sqlite3_bind_int64(insert.get(), 3, fingerprints[row.group]);
            sqlite3_bind_blob(insert.get(), 4, row.bytes.data(), static_cast<int>(row.bytes.size()),
                              SQLITE_STATIC);
            step(insert.get(), SQLITE_DONE);
        }
        exec("COMMIT");
    }

    // Not inlined, so that profiles can tell the two sides apart.
    [[gnu::noinline]] int64_t bundleAll() {
        int64_t made = 0;
        while (bundleOnce()) ++made;
        return made;
    }

    void emptyQueue() { exec("DELETE FROM queue"); }

private:
    struct Counts {
        int64_t lifetime = 0;
        int64_t current = 0;
        double lastFire = 0;
    };

    bool bundleOnce() {
        exec("BEGIN IMMEDIATE");
        if (sqlite3_step(oldest_.get()) != SQLITE_ROW) {
            sqlite3_reset(oldest_.get());
            exec("COMMIT");
            return false;
        }
        const int64_t fingerprint = sqlite3_column_int64(oldest_.get(), 0);
        sqlite3_reset(oldest_.get());

        Bundle bundle;
        sqlite3_bind_int64(metadata_.get(), 1, fingerprint);
        step(metadata_.get(), SQLITE_ROW);
        if (!bundle.ParseFromArray(sqlite3_column_blob(metadata_.get(), 0),
                                   sqlite3_column_bytes(metadata_.get(), 0)))
            std::abort();
        sqlite3_reset(metadata_.get());

        std::map<std::string, Counts, std::less<>> counts;
        int64_t lastRow = 0, hour = 0, size = 0;
        double start = 0, end = 0;
        sqlite3_stmt* rows = rows_.get();
        sqlite3_bind_int64(rows, 1, fingerprint);
        while (sqlite3_step(rows) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(rows, 1));
            const size_t nameLength = static_cast<size_t>(sqlite3_column_bytes(rows, 1));
            const double timestamp = sqlite3_column_double(rows, 2);
            const int length = sqlite3_column_bytes(rows, 3);
            const int64_t added = eventSize(length, nameLength);
            const int64_t eventHour = static_cast<int64_t>(timestamp) / 3600;
            if (bundle.events_size() > 0 && (bundle.events_size() >= kMaxEventsPerBundle ||
                                             eventHour != hour || size + added >= kMaxBundleSize))
                break;
            if (bundle.events_size() == 0) {
                hour = eventHour;
                start = end = timestamp;
            }
            Event* event = bundle.add_events();
            if (!event->ParseFromArray(sqlite3_column_blob(rows, 3), length)) std::abort();
            event->set_name(name, nameLength);
            std::string_view key(name, nameLength);
            auto counted = counts.find(key);
            if (counted == counts.end()) counted = counts.emplace(key, readCounts(key)).first;
            Counts& c = counted->second;
            if (c.lastFire > 0)
                event->set_previous_timestamp_millis(static_cast<int64_t>(c.lastFire * 1000));
            ++c.lifetime;
            ++c.current;
            c.lastFire = timestamp;
            start = std::min(start, timestamp);
            end = std::max(end, timestamp);
            size += added;
            lastRow = sqlite3_column_int64(rows, 0);
        }
        sqlite3_reset(rows);
        for (const auto& [name, c] : counts) writeCounts(name, c);

        step(app_.get(), SQLITE_ROW);
        const int64_t index = sqlite3_column_int64(app_.get(), 0) + 1;
        const double lastStart = sqlite3_column_double(app_.get(), 1);
        const double lastEnd = sqlite3_column_double(app_.get(), 2);
        sqlite3_reset(app_.get());
        if (lastEnd > 0)
            bundle.set_previous_bundle_end_timestamp_millis(static_cast<int64_t>(lastEnd * 1000));
        if (lastStart > 0)
            bundle.set_previous_bundle_start_timestamp_millis(
                static_cast<int64_t>(lastStart * 1000));
        bundle.set_start_timestamp_millis(static_cast<int64_t>(start * 1000));
        bundle.set_end_timestamp_millis(static_cast<int64_t>(end * 1000));
        bundle.set_bundle_sequential_index(static_cast<int32_t>(index));
        bundle.set_config_version(1);
        sqlite3_bind_int64(writeApp_.get(), 1, index);
        sqlite3_bind_double(writeApp_.get(), 2, start);
        sqlite3_bind_double(writeApp_.get(), 3, end);
        step(writeApp_.get(), SQLITE_DONE);

        std::string compressed = gzip(bundle.SerializeAsString());
        sqlite3_bind_blob(queue_.get(), 1, compressed.data(), static_cast<int>(compressed.size()),
                          SQLITE_STATIC);
        sqlite3_bind_double(queue_.get(), 2,
                            static_cast<double>(bundle.end_timestamp_millis()) / 1000);
        step(queue_.get(), SQLITE_DONE);

        sqlite3_bind_int64(deleteRows_.get(), 1, lastRow);
        sqlite3_bind_int64(deleteRows_.get(), 2, fingerprint);
        step(deleteRows_.get(), SQLITE_DONE);
        sqlite3_bind_int64(remains_.get(), 1, fingerprint);
        step(remains_.get(), SQLITE_ROW);
        const bool remains = sqlite3_column_int(remains_.get(), 0) != 0;
        sqlite3_reset(remains_.get());
        if (!remains) {
            sqlite3_bind_int64(deleteMetadata_.get(), 1, fingerprint);
            step(deleteMetadata_.get(), SQLITE_DONE);
        }
        exec("COMMIT");
        return true;
    }

    Counts readCounts(std::string_view name) {
        Counts c;
        sqlite3_bind_text(counts_.get(), 1, name.data(), static_cast<int>(name.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(counts_.get()) == SQLITE_ROW) {
            c.lifetime = sqlite3_column_int64(counts_.get(), 0);
            c.current = sqlite3_column_int64(counts_.get(), 1);
            c.lastFire = sqlite3_column_double(counts_.get(), 2);
        }
        sqlite3_reset(counts_.get());
        return c;
    }

    void writeCounts(const std::string& name, const Counts& c) {
        sqlite3_stmt* s = writeCounts_.get();
        sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 2, c.lifetime);
        sqlite3_bind_int64(s, 3, c.current);
        sqlite3_bind_double(s, 4, c.lastFire);
        step(s, SQLITE_DONE);
    }

    void exec(const char* sql) {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    }
    Statement prepare(const char* sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql, -1, &statement, nullptr) != SQLITE_OK) std::abort();
        return Statement(statement);
    }
    // Runs a statement that must answer `expected`; rows are read before the reset.
    static void step(sqlite3_stmt* statement, int expected) {
        if (sqlite3_step(statement) != expected) std::abort();
        if (expected == SQLITE_DONE) sqlite3_reset(statement);
    }

    std::unique_ptr<sqlite3, CloseDatabase> db_;
    Statement oldest_, rows_, metadata_, counts_, writeCounts_, app_, writeApp_, queue_,
        deleteRows_, remains_, deleteMetadata_;
};

// Parsing, serialising and gzipping the same bundles, all in memory.
size_t codecOnly(const Workload& work) {
    std::map<size_t, std::vector<const Row*>> groups;
    for (const auto& row : work.rows) groups[row.group].push_back(&row);
    size_t compressed = 0;
    for (const auto& [group, rows] : groups) {
        for (size_t first = 0; first < rows.size(); first += kMaxEventsPerBundle) {
            Bundle bundle = work.metadata[group];
            const size_t last = std::min(rows.size(), first + kMaxEventsPerBundle);
            for (size_t i = first; i < last; ++i) {
                Event* event = bundle.add_events();
                if (!event->ParseFromString(rows[i]->bytes)) std::abort();
                event->set_name(rows[i]->name);
            }
            compressed += gzip(bundle.SerializeAsString()).size();
        }
    }
    return compressed;
}

void BM_BundleRawEvents(benchmark::State& state) {
    const int64_t events = state.range(0);
    const int64_t groups = state.range(1);
    Engine engine;
    RawBundler raw(std::filesystem::path(engine.dir) / "baseline.sqlite");
    double ours = 0, baseline = 0, codec = 0;
    for (auto _ : state) {
        auto work = makeWorkload(events, groups);
        engine.store(work);
        raw.store(work);
        auto t0 = Clock::now();
        const int64_t bundles = engine.bundleAll();
        auto t1 = Clock::now();
        const int64_t baseBundles = raw.bundleAll();
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(codecOnly(work));
        auto t3 = Clock::now();
        if (bundles != baseBundles) std::abort();
        ours += seconds(t1 - t0);
        baseline += seconds(t2 - t1);
        codec += seconds(t3 - t2);
        state.SetIterationTime(seconds(t1 - t0));
        state.counters["bundles"] = static_cast<double>(bundles);
        engine.emptyQueue();
        raw.emptyQueue();
    }
    state.SetItemsProcessed(state.iterations() * events);
    state.counters["ratio"] = ours / baseline;
    state.counters["codec_ratio"] = ours / codec;
}

}  // namespace

BENCHMARK(BM_BundleRawEvents)
    ->Args({50000, 1})
    ->Args({100000, 1})
    ->Args({100000, 1000})
    ->Args({30000, 300})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
