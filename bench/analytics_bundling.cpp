// Bundling raw events into gzipped measurement bundles, against serialising and gzipping the
// same events alone: the baseline parses each stored event's bytes as a row holds them, adds
// them to a copy of their metadata in bundles of the same size, serialises each bundle and
// gzips it in one call (zlib, gzip header, default level), as the library's documentation
// recommends. Ours also reads the rows from SQLite, counts the events, numbers the bundles,
// queues them and deletes the rows, one transaction per bundle. ratio = ours / baseline (time).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NSData+MD5.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bundle = NEB_MEASUREMENT::ACPMeasurementBundle;

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

struct Engine {
    Engine() {
        ns::Log::setStandardErrorEnabled(false);
        dir = (std::filesystem::temp_directory_path() / "bench-bundling-XXXXXX").string();
        if (!mkdtemp(dir.data()) || !ns::Sandbox::configure(dir)) std::abort();
        NEBAMonitor::setShared(
            std::make_shared<NEBAMonitor>(6, std::make_shared<QuietLogger>(), 0));
        auto options = std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(
            ns::Dictionary{{kNEBNebulaAppID, ns::Value("1:1:ios:bench")},
                           {kNEBBundleID, ns::Value("com.example.bench")}}));
        engine = NEBAMeasurement::initWithDatabaseName(
            NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
            std::make_shared<NEBAScheduler>("bench.measurement.worker"), options);
        worker = engine->scheduler()->workerQueue();
        while (!worker->sync([&] { return engine->database() != nullptr; })) {
        }
    }
    ~Engine() {
        worker->sync([] {});
        engine.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    std::string dir;
    NEBAIdentity::ScopedInstanceIDSource instanceID{
        [] { return ns::Result<std::string>(std::string("bench-instance")); }};
    std::shared_ptr<NEBAMeasurement> engine;
    std::shared_ptr<dispatch::Queue> worker;
};

// `events` events under `fingerprints` metadata records, stored as the event road stores them;
// answers each event's stored bytes and its metadata, for the baseline.
struct Workload {
    std::vector<Bundle> metadata;
    std::vector<std::pair<size_t, std::string>> rows;  // metadata index, stored bytes
};

Workload store(Engine& engine, int64_t events, int64_t fingerprints) {
    Workload work;
    // One UTC hour, so that only the count and size limits cut bundles.
    const double start = std::floor(dispatch::Clock::current().wallTime() / 3600) * 3600 + 1;
    for (int64_t f = 0; f < fingerprints; ++f) {
        Bundle metadata;
        metadata.set_platform("ios");
        metadata.set_app_id("com.example.bench");
        metadata.set_app_version("1." + std::to_string(f));
        metadata.set_app_instance_id("0123456789ABCDEF0123456789ABCDEF");
        work.metadata.push_back(metadata);
    }
    engine.worker->sync([&] {
        auto* db = engine.engine->database();
        db->performTransaction([&] {
            for (const auto& metadata : work.metadata)
                if (!db->insertIfNotExistsRawEventMetadata(metadata)) std::abort();
            for (int64_t i = 0; i < events; ++i) {
                size_t f = static_cast<size_t>(i % fingerprints);
                auto event = NEBAEvent::initWithOrigin(
                    "app", true, "level_" + std::to_string(i % 10), start + i * 0.03, 0,
                    {{"level", ns::Value(i)}, {"score", ns::Value(i * 0.5)}});
                auto fingerprint = neba_64LSBMD5(work.metadata[f].SerializeAsString());
                if (!db->insertRawEvent(*event, fingerprint, false)) std::abort();
                auto proto = event->protoEvent();
                proto.clear_name();
                work.rows.emplace_back(f, proto.SerializeAsString());
            }
            return true;
        });
    });
    return work;
}

void BM_BundleRawEvents(benchmark::State& state) {
    const int64_t events = state.range(0);
    const int64_t fingerprints = state.range(1);
    Engine engine;
    const int64_t perBundle = 1000;
    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        auto work = store(engine, events, fingerprints);
        auto t0 = Clock::now();
        int64_t bundles = engine.worker->sync([&] {
            int64_t made = 0;
            while (engine.engine->bundleRawEvents()) ++made;
            return made;
        });
        auto t1 = Clock::now();
        // The same bundles: each metadata record's events in row order, 1000 at a time.
        std::map<size_t, std::vector<const std::string*>> groups;
        for (const auto& [f, bytes] : work.rows) groups[f].push_back(&bytes);
        int64_t baseBundles = 0;
        size_t compressed = 0;
        for (const auto& [f, rows] : groups) {
            for (size_t first = 0; first < rows.size(); first += perBundle) {
                Bundle bundle = work.metadata[f];
                for (size_t i = first; i < std::min(rows.size(), first + perBundle); ++i) {
                    auto* event = bundle.add_events();
                    if (!event->ParseFromString(*rows[i])) std::abort();
                    event->set_name("level_" + std::to_string(i % 10));
                }
                compressed += gzip(bundle.SerializeAsString()).size();
                ++baseBundles;
            }
        }
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(compressed);
        if (bundles < baseBundles) std::abort();
        oursTotal += seconds(t1 - t0);
        baseTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
        state.counters["bundles"] = static_cast<double>(bundles);
        // The queue is emptied for the next round, as uploads would.
        engine.worker->sync([&] {
            (void)engine.engine->database()->sqliteStore().executeSQL("DELETE FROM queue");
        });
    }
    state.SetItemsProcessed(state.iterations() * events);
    state.counters["ratio"] = oursTotal / baseTotal;
}

}  // namespace

BENCHMARK(BM_BundleRawEvents)
    ->Args({50000, 1})
    ->Args({100000, 1})
    ->Args({100000, 1000})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
