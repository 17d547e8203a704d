// The messaging socket's hot paths against the underlying libraries, in the same run:
//   BM_CutAndParseFrames  a 1 MiB byte stream of data stanzas arriving in 16 KiB reads, cut
//                         into frames in the socket's buffer and parsed by the connection into
//                         its reused message of each type; library: each payload parsed into one
//                         reused message with the frame offsets known in advance. Goal:
//                         "ratio" <= 1.1.
//   BM_StoreSave          one upstream message saved (serialized, one INSERT committed on its
//                         own, as the store promises each save survives a crash); library: the
//                         same INSERT prepared once and stepped in autocommit with the same
//                         journal mode. Goal: "ratio" <= 1.1. "ratio_one_transaction" compares
//                         with all rows in one transaction, which the store cannot offer.
//   BM_AckLatency         one acknowledged message looked up, reported and deleted with 1k and
//                         with 10k messages stored. Goal: flat ("ratio_10k_to_1k" about 1).
//   BM_StartWith100kWaiting  a store that keeps 100,000 messages no page took: the store
//                         opened as a launch opens it ("open_ms", the main thread waiting) and
//                         the first messages read back and handed on as the page takes them
//                         ("first_page_ms"); "rows_in_memory" counts the kept messages held in
//                         memory then. Library: the same file opened and the first page read
//                         with a prepared statement ("raw_first_page_ms", "ratio"), and, for
//                         scale, every row read ("raw_load_all_ms").
//   BM_ReceivedMessage    one received message's life in the store: its id and its bytes kept
//                         in one transaction on arrival, its bytes dropped once delivered;
//                         library: the same statements prepared once, the two inserts in one
//                         transaction and the delete in autocommit, same journal mode. Goal:
//                         "ratio" <= 1.1.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchRounds.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingCodedInputStream.h"
#include "sdk/messaging/NEBMessagingConnection.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string makeDirectory(const char* name) {
    std::string dir = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    return dir;
}

// A new sandbox with the store's folder, for the life of one benchmark.
std::string makeStoreSandbox(const char* name) {
    std::string dir = makeDirectory(name);
    if (!ns::Sandbox::configure(dir)) std::abort();
    std::filesystem::create_directories(ns::Sandbox::applicationSupportDirectory() +
                                        "/Nebula/NebulaMessaging");
    return dir;
}

mcs::McsDataMessageStanza sampleStanza(int i) {
    mcs::McsDataMessageStanza s;
    s.set_from("sender@example");
    s.set_category("com.example.app");
    s.set_persistent_id("0:" + std::to_string(1700000000000 + i));
    s.set_ttl(3600);
    s.set_sent(1700000000 + i);
    for (int k = 0; k < 4; ++k) {
        auto* pair = s.add_app_data();
        pair->set_key("key" + std::to_string(k));
        pair->set_value("value of some length " + std::to_string(i * 7 + k));
    }
    return s;
}

struct Stream {
    std::string bytes;
    std::vector<std::pair<size_t, size_t>> payloads;  // offset, length
};

Stream makeStream() {
    Stream stream;
    for (int i = 0; stream.bytes.size() < (1u << 20); ++i) {
        std::string payload = sampleStanza(i).SerializeAsString();
        stream.bytes.push_back(8);
        auto length = static_cast<uint32_t>(payload.size());
        do {
            uint8_t byte = length & 0x7f;
            length >>= 7;
            stream.bytes.push_back(static_cast<char>(length ? byte | 0x80 : byte));
        } while (length);
        stream.payloads.emplace_back(stream.bytes.size(), payload.size());
        stream.bytes += payload;
    }
    return stream;
}

void BM_CutAndParseFrames(benchmark::State& state) {
    static const Stream stream = makeStream();
    auto connection = std::make_shared<NEBMessagingConnection>(
        "1", "secret", "127.0.0.1", 1, dispatch::RunLoop::main(),
        std::weak_ptr<NEBMessagingRmqManager>(), std::weak_ptr<NEBMessagingDataMessageManager>());
    double ours = 0, library = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        // Ours: the socket's buffer and cutter, the connection's parse.
        std::vector<uint8_t> buffer(kNEBMessagingInitialBufferSize);
        size_t length = 0;
        int64_t cut = 0;
        for (size_t at = 0; at < stream.bytes.size();) {
            size_t n = std::min(stream.bytes.size() - at, buffer.size() - length);
            std::memcpy(buffer.data() + length, stream.bytes.data() + at, n);
            length += n;
            at += n;
            NEBMessagingCodedInputStream reader(
                {reinterpret_cast<const char*>(buffer.data()), length});
            size_t consumed = 0;
            int8_t tag;
            std::string_view payload;
            while (reader.readFrame(tag, payload) == NEBMessagingCodedInputStream::Result::Frame) {
                consumed = reader.offset();
                const pb::MessageLite* message = connection->parseProto(tag, payload);
                if (!message) std::abort();
                benchmark::DoNotOptimize(message);
                cut++;
            }
            std::memmove(buffer.data(), buffer.data() + consumed, length - consumed);
            length -= consumed;
            if (length == buffer.size())
                buffer.resize(buffer.size() + kNEBMessagingInitialBufferSize);
        }
        auto t1 = Clock::now();
        // Library: the same payloads parsed into one reused message.
        mcs::McsDataMessageStanza message;
        for (const auto& [offset, size] : stream.payloads) {
            if (!message.ParseFromArray(stream.bytes.data() + offset, static_cast<int>(size))) {
                std::abort();
            }
            benchmark::DoNotOptimize(&message);
        }
        auto t2 = Clock::now();
        if (cut != static_cast<int64_t>(stream.payloads.size())) std::abort();
        ours += seconds(t1 - t0);
        library += seconds(t2 - t1);
        frames += cut;
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["frames_per_s"] = ours > 0 ? static_cast<double>(frames) / ours : 0;
    state.counters["ratio"] = library > 0 ? ours / library : 0;
}

void BM_StoreSave(benchmark::State& state) {
    std::string dir = makeStoreSandbox("bench-messaging");
    NEBMessagingRmqManager manager("rmq2");
    manager.loadRmqId();

    sqlite3* raw = nullptr;
    sqlite3_open((dir + "/raw.sqlite").c_str(), &raw);
    sqlite3_exec(raw,
                 "create TABLE IF NOT EXISTS outgoingRmqMessages (_id INTEGER PRIMARY KEY, rmq_id "
                 "INTEGER, type INTEGER, ts INTEGER, data BLOB)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(raw, "INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (?, ?, ?)",
                       -1, &insert, nullptr);
    auto rawSave = [&](int64_t id, const std::string& data) {
        sqlite3_bind_int64(insert, 1, id);
        sqlite3_bind_int(insert, 2, 8);
        sqlite3_bind_blob(insert, 3, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
        sqlite3_reset(insert);
    };

    double ours = 0, library = 0, batched = 0;
    int64_t id = 1;
    for (auto _ : state) {
        auto message = sampleStanza(static_cast<int>(id));
        message.clear_persistent_id();
        auto t0 = Clock::now();
        if (!manager.saveRmqMessage(message)) std::abort();
        auto t1 = Clock::now();
        rawSave(id, sampleStanza(static_cast<int>(id)).SerializeAsString());
        auto t2 = Clock::now();
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        rawSave(-id, message.SerializeAsString());
        auto t3 = Clock::now();
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        ours += seconds(t1 - t0);
        library += seconds(t2 - t1);
        batched += seconds(t3 - t2);
        ++id;
        state.SetIterationTime(seconds(t1 - t0));
    }
    sqlite3_finalize(insert);
    sqlite3_close(raw);
    std::filesystem::remove_all(dir);
    state.counters["ratio"] = library > 0 ? ours / library : 0;
    state.counters["ratio_one_transaction"] = batched > 0 ? ours / batched : 0;
}

struct AckStore {
    explicit AckStore(int count) {
        dir = makeStoreSandbox("bench-messaging-ack");
        manager = std::make_shared<NEBMessagingRmqManager>("rmq2");
        manager->loadRmqId();
        sqlite3* db = nullptr;
        sqlite3_open(NEBMessagingRmq2PersistentStore::pathForDatabase(
                         "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport)
                         .c_str(),
                     &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO outgoingRmqMessages (rmq_id, type, data) VALUES (?, 8, ?)",
                           -1, &insert, nullptr);
        for (int i = 1; i <= count; ++i) {
            std::string data = sampleStanza(i).SerializeAsString();
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_blob(insert, 2, data.data(), static_cast<int>(data.size()),
                              SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        manager = std::make_shared<NEBMessagingRmqManager>("rmq2");
        manager->loadRmqId();
        client = std::make_shared<NEBMessagingClient>(
            NEBServices::standard(), std::weak_ptr<NIPReachability>(), manager, nullptr);
        next = 1;
    }
    ~AckStore() { std::filesystem::remove_all(dir); }
    double ackOne() {
        std::vector<std::string> ids{std::to_string(next++)};
        int32_t confirmed = -1;
        auto t0 = Clock::now();
        // The store's queue does the work; the answer comes back on the main loop.
        client->connectionDidReceiveAckForRmqIds(ids, [&](int32_t n) { confirmed = n; });
        dispatch::RunLoop::main().runUntilIdle();
        if (confirmed != 1) std::abort();
        return seconds(Clock::now() - t0);
    }
    std::string dir;
    std::shared_ptr<NEBMessagingRmqManager> manager;
    std::shared_ptr<NEBMessagingClient> client;
    int next;
};

void BM_AckLatency(benchmark::State& state) {
    AckStore small(1000), large(10000);
    double smallTotal = 0, largeTotal = 0;
    for (auto _ : state) {
        smallTotal += small.ackOne();
        double t = large.ackOne();
        largeTotal += t;
        state.SetIterationTime(t);
        if (small.next > 1000) state.SkipWithError("store emptied");
    }
    state.counters["us_per_ack_10k"] =
        state.iterations() ? largeTotal * 1e6 / static_cast<double>(state.iterations()) : 0;
    state.counters["ratio_10k_to_1k"] = smallTotal > 0 ? largeTotal / smallTotal : 0;
}

void BM_ReceivedMessage(benchmark::State& state) {
    std::string dir = makeStoreSandbox("bench-messaging-received");
    NEBMessagingRmqManager manager("rmq2");
    manager.loadRmqId();

    sqlite3* raw = nullptr;
    sqlite3_open((dir + "/raw.sqlite").c_str(), &raw);
    sqlite3_exec(raw,
                 "create TABLE IF NOT EXISTS s2dRmqIds_1 (_id INTEGER PRIMARY KEY, rmq_id TEXT);"
                 "CREATE INDEX IF NOT EXISTS s2dRmqIds_1_rmq_id ON s2dRmqIds_1 (rmq_id);"
                 "create TABLE IF NOT EXISTS undeliveredS2dMessages (_id INTEGER PRIMARY KEY, "
                 "rmq_id TEXT UNIQUE, data BLOB)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* id = nullptr;
    sqlite3_stmt* keep = nullptr;
    sqlite3_stmt* drop = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO s2dRmqIds_1 (rmq_id) SELECT ?1 WHERE NOT EXISTS "
                       "(SELECT 1 FROM s2dRmqIds_1 WHERE rmq_id = ?1)",
                       -1, &id, nullptr);
    sqlite3_prepare_v2(raw,
                       "INSERT OR IGNORE INTO undeliveredS2dMessages (rmq_id, data) VALUES (?, ?)",
                       -1, &keep, nullptr);
    sqlite3_prepare_v2(raw, "DELETE FROM undeliveredS2dMessages WHERE rmq_id = ?", -1, &drop,
                       nullptr);
    auto step = [](sqlite3_stmt* statement) {
        if (sqlite3_step(statement) != SQLITE_DONE) std::abort();
        sqlite3_reset(statement);
    };
    auto rawLife = [&](const std::string& rmqId, const std::string& data) {
        sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_bind_text(id, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_TRANSIENT);
        step(id);
        sqlite3_bind_text(keep, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(keep, 2, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        step(keep);
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_bind_text(drop, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_TRANSIENT);
        step(drop);
    };

    double ours = 0, library = 0;
    int i = 0;
    for (auto _ : state) {
        const std::string rmqId = "0:" + std::to_string(1700000000000 + i);
        const std::string data = sampleStanza(i++).SerializeAsString();
        auto t0 = Clock::now();
        if (manager.saveReceivedS2dMessageWithRmqId(rmqId, data) !=
            NEBMessagingRmq2PersistentStore::ReceivedMessageSave::Saved) {
            std::abort();
        }
        manager.removeUndeliveredS2dMessage(rmqId);
        auto t1 = Clock::now();
        rawLife(rmqId, data);
        auto t2 = Clock::now();
        ours += seconds(t1 - t0);
        library += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    for (auto* statement : {id, keep, drop}) sqlite3_finalize(statement);
    sqlite3_close(raw);
    std::filesystem::remove_all(dir);
    state.counters["ratio"] = library > 0 ? ours / library : 0;
}

// A store file keeping 100,000 messages, made once and copied for each round.
const std::string& storeWith100kWaiting() {
    static const std::string path = [] {
        std::string dir = makeStoreSandbox("bench-messaging-waiting");
        { NEBMessagingRmqManager manager("rmq2"); }
        std::string file = NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO undeliveredS2dMessages (rmq_id, data, expiration_ts) "
                           "VALUES (?, ?, ?)",
                           -1, &insert, nullptr);
        for (int i = 0; i < 100000; ++i) {
            auto stanza = sampleStanza(i);
            std::string data = stanza.SerializeAsString();
            const std::string& id = stanza.persistent_id();
            sqlite3_bind_text(insert, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 2, data.data(), static_cast<int>(data.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 3, INT64_MAX);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return file;
    }();
    return path;
}

// The first `limit` kept messages, or all of them, read with a prepared statement.
size_t rawKept(const std::string& path, int limit) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT _id, rmq_id, data FROM undeliveredS2dMessages ORDER BY _id LIMIT ?",
                       -1, &rows, nullptr);
    sqlite3_bind_int(rows, 1, limit);
    std::vector<std::pair<std::string, std::string>> kept;
    while (sqlite3_step(rows) == SQLITE_ROW) {
        kept.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(rows, 1)),
                          std::string(static_cast<const char*>(sqlite3_column_blob(rows, 2)),
                                      static_cast<size_t>(sqlite3_column_bytes(rows, 2))));
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return kept.size();
}

void BM_StartWith100kWaiting(benchmark::State& state) {
    const std::string& source = storeWith100kWaiting();
    auto& loop = dispatch::RunLoop::main();
    for (auto _ : state) {
        std::string dir = makeStoreSandbox("bench-messaging-start");
        const std::string file = NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
        std::filesystem::copy_file(source, file);
        const double load = bench::load1();

        const auto t0 = Clock::now();
        auto manager = std::make_shared<NEBMessagingRmqManager>("rmq2");
        manager->loadRmqId();
        const auto t1 = Clock::now();
        auto& received = *manager->receivedMessages();
        size_t handed = 0;
        received.setSink([&](const mcs::McsDataMessageStanza&, NEBMessagingArrival) { ++handed; });
        received.startDelivering();
        while (handed < NEBMessagingReceivedMessages::kUnrecordedLimit) loop.runUntilIdle();
        const auto t2 = Clock::now();
        const size_t inMemory = received.waitingInMemoryCount() + received.unrecordedCount();
        manager.reset();

        const auto t3 = Clock::now();
        if (rawKept(file, NEBMessagingReceivedMessages::kPageSize) == 0) std::abort();
        const auto t4 = Clock::now();
        if (rawKept(file, 1000000) != 100000) std::abort();
        const auto t5 = Clock::now();
        std::filesystem::remove_all(dir);

        state.SetIterationTime(seconds(t2 - t0));
        state.counters["open_ms"] = 1e3 * seconds(t1 - t0);
        state.counters["first_page_ms"] = 1e3 * seconds(t2 - t1);
        state.counters["rows_in_memory"] = static_cast<double>(inMemory);
        state.counters["raw_first_page_ms"] = 1e3 * seconds(t4 - t3);
        state.counters["raw_load_all_ms"] = 1e3 * seconds(t5 - t4);
        state.counters["ratio"] = seconds(t2 - t0) / seconds(t4 - t3);
        state.counters["load1"] = load;
    }
}

// The library's log lines would only measure the terminal.
const bool quiet = [] {
    ns::Log::setStandardErrorEnabled(false);
    NEBMessagingSharedLogger().setFilter(std::make_shared<NEBMessagingLogLevelFilter>(4));
    return true;
}();

}  // namespace

BENCHMARK(BM_CutAndParseFrames)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreSave)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_AckLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_ReceivedMessage)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_StartWith100kWaiting)
    ->Apply(bench::withRange)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
