// The SQLite plug-in against plain prepared statements of the SQLite library, in the same run:
//   BM_InsertBatch/N   a page call with a batch of BEGIN, N parameterised inserts and COMMIT,
//                      through the fake web engine (which hands the call's text over unread,
//                      as the real one does: checked once before timing), the command queue, the
//                      plug-in on its database's queue and back to the page's callback. Library,
//                      doing the same job by hand: the call's text read with the SIMD library's
//                      on-demand reader (on a padded copy, as its documentation asks), each
//                      statement text prepared once and kept, bound, stepped in the batch's own
//                      transaction, and the answer the page needs (one entry per statement) written
//                      with the JSON library: "throughput_ratio" (library time / ours).
//                      "inserts_only_ratio" compares with one prepared insert stepped N times in
//                      one transaction and nothing else, its labels made before timing (goal at
//                      10k rows: >= 0.68); "library_inserts_only_ratio" compares the library's
//                      job with those bare inserts, the most any reader and writer of the call
//                      could reach. The three take turns to go first, each has a database of
//                      its own, and the databases live on a memory file system when there is
//                      one, so that the disk's flush at COMMIT does not drown the work.
//   BM_InsertBatchPlugin/N  the same batch handed to the plug-in as the engine hands a call over
//                      (JSON text, routed but not read), its work run on the calling thread and
//                      its answer (JSON text) kept: the plug-in's own share of the cost, against
//                      the bare inserts.
//   BM_Select100k      a SELECT of 100k rows answered to the page as JSON; library: the same
//                      rows stepped and written as JSON with the JSON library.
//   BM_SelectPlugin/N  the plug-in's own share of a large SELECT: executeSql run on the calling
//                      thread to its answer's text; library: the same rows stepped and written
//                      with the JSON library, as above.
#include <benchmark/benchmark.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchWebEngine.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "plugins/device_storage/SQLitePlugin.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSelectRows = 100000;
constexpr const char* kCreate = "CREATE TABLE IF NOT EXISTS t (n INTEGER, label TEXT, x REAL)";
constexpr const char* kInsert = "INSERT INTO t VALUES (?, ?, ?)";

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

using benchhost::FakeWebEngine;

// Where the databases go: a memory file system when there is one and TMPDIR names no other
// folder, so that both sides measure their work rather than the disk's flushes at COMMIT.
std::filesystem::path benchFolder() {
    std::error_code error;
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", error)) {
        return "/dev/shm";
    }
    return std::filesystem::temp_directory_path();
}

// The host with the plug-in, a sandbox in a temporary folder, and a raw connection to a
// second database in the same folder for the library's side.
struct Host {
    Host() {
        ns::Log::setStandardErrorEnabled(false);
        std::string dir = (benchFolder() / "bench-sqlite-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        sandbox = dir;
        if (!ns::Sandbox::configure(sandbox)) std::abort();
        controller = HYBViewController::create();
        engine = std::make_shared<FakeWebEngine>();
        engine->initWithFrame({0, 0, 320, 480});
        controller->setWebViewEngine(engine);
        controller->registerPlugin(engine, "Engine");
        engine->attach();
        auto plugin = std::make_shared<SQLitePlugin>();
        plugin->initWithWebViewEngine(engine);
        controller->registerPluginWithPluginName(plugin, "SQLitePlugin");
        pageCall(R"(["open","SQLitePlugin","open",[{"name":"plugin.db"}]])");
        pageCall(batchCall({std::string("{\"sql\":\"") + kCreate + "\"}"}));
        raw = openRaw("raw.db");
        bare = openRaw("bare.db");
    }
    ~Host() {
        sqlite3_close(raw);
        sqlite3_close(bare);
        controller.reset();
        dispatch::RunLoop::main().runUntilIdle();
        std::error_code ignored;
        std::filesystem::remove_all(sandbox, ignored);
    }

    // Posts the call as the page would and runs until its answer is in the page.
    void pageCall(const std::string& json) {
        engine->fake().postMessageJSON("hybrid", json);
        answered();
    }
    // The same for a call checked once beforehand: the real engine copies what the page wrote
    // and hands it over unread, where the fake engine would read all of it again to check it.
    void checkedPageCall(const std::string& json) {
        engine->fake().postCheckedMessageJSON("hybrid", ns::JSONSlice(ns::JSONText::copy(json)));
        answered();
    }
    void answered() {
        dispatch::RunLoop::main().runUntilIdle();
        if (engine->fake().evaluatedScripts().size() > 16) engine->fake().clearEvaluatedScripts();
    }
    static std::string batchCall(const std::vector<std::string>& statements,
                                 const std::string& db = "plugin.db") {
        std::string call =
            R"(["batch","SQLitePlugin","backgroundExecuteSqlBatch",[{"dbargs":{"dbname":")" + db +
            R"("},"executes":[)";
        for (size_t i = 0; i < statements.size(); ++i) {
            if (i) call += ',';
            call += statements[i];
        }
        return call + "]}]]";
    }
    // The size of the last answer: its callback script, or the message handed over.
    size_t lastAnswerBytes() {
        if (engine->calls > 0) return engine->lastCall.second["message"].string()->size();
        return engine->fake().evaluatedScripts().back().size();
    }

    std::string sandbox;
    std::shared_ptr<HYBViewController> controller;
    std::shared_ptr<FakeWebEngine> engine;
    // The library's job and the bare inserts each have a database of their own, so that each
    // table grows as ours does.
    sqlite3* raw = nullptr;
    sqlite3* bare = nullptr;

private:
    // Without the connection's own mutex, as the plug-in opens its databases: each call would
    // otherwise lock it, a cost ours does not pay.
    static sqlite3* openRaw(const char* name) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2((ns::Sandbox::documentsDirectory() + "/" + name).c_str(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            std::abort();
        }
        sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
        return db;
    }
};

// Runs background work at once and keeps the last answer, for the plug-in on its own.
class InlineDelegate : public HYBCommandDelegate {
public:
    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>&) override {
        last = result;
    }
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override { block(); }
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return nullptr; }
    void setUrlTransformer(UrlTransformer) override {}

    std::shared_ptr<HYBPluginResult> last;
};

std::string insertBatch(int64_t rows, const std::string& db = "plugin.db") {
    std::vector<std::string> statements{R"({"sql":"BEGIN"})"};
    for (int64_t i = 0; i < rows; ++i) {
        statements.push_back(std::string(R"({"sql":")") + kInsert + R"(","params":[)" +
                             std::to_string(i) + ",\"label " + std::to_string(i) + "\"," +
                             std::to_string(static_cast<double>(i) * 0.5) + "]}");
    }
    statements.push_back(R"({"sql":"COMMIT"})");
    return Host::batchCall(statements, db);
}

// The rows' labels, made before timing as the page's call is: the bare loop below then does
// nothing but bind and step, as the page's batch hands the plug-in its labels ready-made.
std::vector<std::string> labels(int64_t rows) {
    std::vector<std::string> made;
    made.reserve(static_cast<size_t>(rows));
    for (int64_t i = 0; i < rows; ++i) made.push_back("label " + std::to_string(i));
    return made;
}

void rawInserts(sqlite3* db, const std::vector<std::string>& labels) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr);
    for (size_t i = 0; i < labels.size(); ++i) {
        sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i));
        sqlite3_bind_text(insert, 2, labels[i].data(), static_cast<int>(labels[i].size()),
                          SQLITE_STATIC);
        sqlite3_bind_double(insert, 3, static_cast<double>(i) * 0.5);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

// The page's batch done by hand with the libraries: what a program of its own would do to answer
// the same call.
class RawBatch {
public:
    explicit RawBatch(sqlite3* db) : db_(db) {}
    ~RawBatch() {
        for (auto& [sql, statement] : prepared_) sqlite3_finalize(statement);
    }

    // The answer's length; every statement of the call's batch run in order.
    size_t run(const std::string& call) {
        const simdjson::padded_string text(call);
        simdjson::ondemand::document document = parser_.iterate(text);
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        writer.StartArray();
        size_t index = 0;
        for (auto part : document.get_array()) {
            if (index++ != 3) continue;
            for (auto request : part.get_array()) {
                auto executes = request.get_object()["executes"].get_array();
                for (auto entry : executes) answer(entry.get_object(), writer);
                break;
            }
        }
        writer.EndArray();
        return buffer.GetSize();
    }

private:
    template <class Writer>
    void answer(simdjson::ondemand::object statement, Writer& writer) {
        const std::string_view sql = statement["sql"].get_string();
        auto found = prepared_.find(sql);
        if (found == prepared_.end()) {
            sqlite3_stmt* compiled = nullptr;
            sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &compiled, nullptr);
            found = prepared_.emplace(std::string(sql), compiled).first;
        }
        sqlite3_stmt* compiled = found->second;
        simdjson::ondemand::array params;
        if (!statement["params"].get_array().get(params)) {
            int i = 0;
            for (auto param : params) {
                ++i;
                switch (param.type()) {
                    case simdjson::ondemand::json_type::number:
                        if (param.is_integer()) {
                            sqlite3_bind_int64(compiled, i, param.get_int64());
                        } else {
                            sqlite3_bind_double(compiled, i, param.get_double());
                        }
                        break;
                    case simdjson::ondemand::json_type::string: {
                        const std::string_view value = param.get_string();
                        sqlite3_bind_text(compiled, i, value.data(), static_cast<int>(value.size()),
                                          SQLITE_STATIC);
                        break;
                    }
                    default:
                        sqlite3_bind_null(compiled, i);
                }
            }
        }
        sqlite3_step(compiled);
        const int changes = sqlite3_changes(db_);
        writer.StartObject();
        writer.Key("result");
        writer.StartObject();
        if (changes > 0) {
            writer.Key("insertId");
            writer.Int64(sqlite3_last_insert_rowid(db_));
        }
        writer.Key("rows");
        writer.StartArray();
        writer.EndArray();
        writer.Key("rowsAffected");
        writer.Int(changes);
        writer.EndObject();
        writer.Key("type");
        writer.String("success");
        writer.EndObject();
        sqlite3_reset(compiled);
        sqlite3_clear_bindings(compiled);
    }

    sqlite3* db_;
    simdjson::ondemand::parser parser_;
    std::map<std::string, sqlite3_stmt*, std::less<>> prepared_;
};

size_t rawSelectToJSON(sqlite3* db) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM t", -1, &select, nullptr);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartArray();
    while (sqlite3_step(select) == SQLITE_ROW) {
        writer.StartObject();
        for (int i = 0; i < sqlite3_column_count(select); ++i) {
            writer.Key(sqlite3_column_name(select, i));
            switch (sqlite3_column_type(select, i)) {
                case SQLITE_INTEGER:
                    writer.Int64(sqlite3_column_int64(select, i));
                    break;
                case SQLITE_FLOAT:
                    writer.Double(sqlite3_column_double(select, i));
                    break;
                case SQLITE_NULL:
                    writer.Null();
                    break;
                default:
                    writer.String(
                        reinterpret_cast<const char*>(sqlite3_column_text(select, i)),
                        static_cast<rapidjson::SizeType>(sqlite3_column_bytes(select, i)));
            }
        }
        writer.EndObject();
    }
    writer.EndArray();
    sqlite3_finalize(select);
    return buffer.GetSize();
}

// Times `ours` and `library` in turn each iteration (ours as the iteration's time) and answers
// their totals in seconds.
template <class Ours, class Library>
std::pair<double, double> timeBoth(benchmark::State& state, Ours ours, Library library) {
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ours();
        const auto t1 = Clock::now();
        library();
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    return {oursTotal, libraryTotal};
}

void BM_InsertBatch(benchmark::State& state) {
    Host host;
    const std::string call = insertBatch(state.range(0));
    const std::string rawCall = insertBatch(state.range(0), "raw.db");
    const std::vector<std::string> rawLabels = labels(state.range(0));
    RawBatch raw(host.raw);
    if (!ns::JSONSerialization::read(call)) std::abort();
    double oursTotal = 0, libraryTotal = 0, insertsTotal = 0;
    size_t answerBytes = 0;
    // The three in one order in one iteration and the other way round in the next.
    bool oursFirst = true;
    for (auto _ : state) {
        double ours = 0;
        const auto timed = [](auto run, double& total) {
            const auto t0 = Clock::now();
            run();
            const double took = seconds(Clock::now() - t0);
            total += took;
            return took;
        };
        const auto runOurs = [&] { ours = timed([&] { host.checkedPageCall(call); }, oursTotal); };
        const auto runOthers = [&](bool libraryFirst) {
            const auto library = [&] { answerBytes = raw.run(rawCall); };
            const auto inserts = [&] { rawInserts(host.bare, rawLabels); };
            if (libraryFirst) {
                timed(library, libraryTotal);
                timed(inserts, insertsTotal);
            } else {
                timed(inserts, insertsTotal);
                timed(library, libraryTotal);
            }
        };
        if (oursFirst) {
            runOurs();
            runOthers(true);
        } else {
            runOthers(false);
            runOurs();
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(ours);
    }
    const double rows = static_cast<double>(state.iterations() * state.range(0));
    state.counters["rows_per_s"] = oursTotal > 0 ? rows / oursTotal : 0;
    state.counters["library_rows_per_s"] = libraryTotal > 0 ? rows / libraryTotal : 0;
    state.counters["library_answer_bytes"] = static_cast<double>(answerBytes);
    state.counters["answer_bytes"] = static_cast<double>(host.lastAnswerBytes());
    state.counters["throughput_ratio"] = oursTotal > 0 ? libraryTotal / oursTotal : 0;
    state.counters["inserts_only_ratio"] = oursTotal > 0 ? insertsTotal / oursTotal : 0;
    state.counters["library_inserts_only_ratio"] =
        libraryTotal > 0 ? insertsTotal / libraryTotal : 0;
}

// The plug-in alone, its calls already read: answered inline, the answer dropped after each.
struct PluginOnly {
    explicit PluginOnly(const std::string& database) {
        plugin->setCommandDelegate(delegate);
        plugin->pluginInitialize();
        run("open", command(R"(["o","SQLitePlugin","open",[{"name":")" + database + R"("}]])"));
    }
    static HYBInvokedUrlCommand command(const std::string& call) {
        return *HYBInvokedUrlCommand::commandFromJSONText(ns::JSONSlice(ns::JSONText::copy(call)));
    }
    void run(const std::string& action, const HYBInvokedUrlCommand& call) {
        plugin->performAction(action, call);
        delegate->last.reset();
    }

    std::shared_ptr<InlineDelegate> delegate = std::make_shared<InlineDelegate>();
    std::shared_ptr<SQLitePlugin> plugin = std::make_shared<SQLitePlugin>();
};

void BM_InsertBatchPlugin(benchmark::State& state) {
    Host host;
    PluginOnly direct("direct.db");
    direct.run("backgroundExecuteSqlBatch",
               PluginOnly::command(
                   Host::batchCall({std::string("{\"sql\":\"") + kCreate + "\"}"}, "direct.db")));
    const HYBInvokedUrlCommand command =
        PluginOnly::command(insertBatch(state.range(0), "direct.db"));
    const std::vector<std::string> rawLabels = labels(state.range(0));
    const auto [oursTotal, libraryTotal] = timeBoth(
        state, [&] { direct.run("backgroundExecuteSqlBatch", command); },
        [&] { rawInserts(host.raw, rawLabels); });
    state.counters["throughput_ratio"] = oursTotal > 0 ? libraryTotal / oursTotal : 0;
}

void BM_Select100k(benchmark::State& state) {
    Host host;
    host.pageCall(insertBatch(kSelectRows));
    rawInserts(host.raw, labels(kSelectRows));
    const std::string call = Host::batchCall({R"({"sql":"SELECT * FROM t"})"});
    size_t libraryBytes = 0;
    const auto [oursTotal, libraryTotal] = timeBoth(
        state, [&] { host.pageCall(call); }, [&] { libraryBytes = rawSelectToJSON(host.raw); });
    state.counters["callback_bytes"] = static_cast<double>(host.lastAnswerBytes());
    state.counters["library_json_bytes"] = static_cast<double>(libraryBytes);
    state.counters["throughput_ratio"] = oursTotal > 0 ? libraryTotal / oursTotal : 0;
}

void BM_SelectPlugin(benchmark::State& state) {
    Host host;
    PluginOnly direct("select.db");
    const auto command = &PluginOnly::command;
    const std::string fill =
        std::string("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 ") + "FROM c LIMIT " +
        std::to_string(state.range(0)) + ") INSERT INTO t SELECT i, 'row ' || i, i * 0.5 FROM c";
    direct.run("backgroundExecuteSqlBatch",
               command(Host::batchCall(
                   {std::string("{\"sql\":\"") + kCreate + "\"}", "{\"sql\":\"" + fill + "\"}"},
                   "select.db")));
    sqlite3_exec(host.raw, kCreate, nullptr, nullptr, nullptr);
    sqlite3_exec(host.raw, fill.c_str(), nullptr, nullptr, nullptr);
    const HYBInvokedUrlCommand select =
        command(R"(["s","SQLitePlugin","executeSql",[{"dbargs":{"dbname":"select.db"},)"
                R"("ex":{"sql":"SELECT * FROM t"}}]])");
    direct.plugin->performAction("executeSql", select);
    const size_t answerBytes =
        direct.delegate->last ? direct.delegate->last->pageMessage(SIZE_MAX).text.size() : 0;
    size_t libraryBytes = 0;
    const auto [oursTotal, libraryTotal] = timeBoth(
        state, [&] { direct.run("executeSql", select); },
        [&] { libraryBytes = rawSelectToJSON(host.raw); });
    state.counters["answer_bytes"] = static_cast<double>(answerBytes);
    state.counters["library_json_bytes"] = static_cast<double>(libraryBytes);
    state.counters["throughput_ratio"] = oursTotal > 0 ? libraryTotal / oursTotal : 0;
}

}  // namespace

BENCHMARK(BM_InsertBatch)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertBatchPlugin)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Select100k)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectPlugin)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
