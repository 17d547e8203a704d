// JSON reading and writing through ns::JSONSerialization against the JSON libraries at their
// fastest, in the same run: the tree library with its SSE4.2 paths and default flags, and the
// SIMD library's DOM parser (reused, on padded input, as its documentation advises). Shapes: a
// 1 MiB string payload, a batch of 10 000 small page calls, and an SQL batch of 10 000
// parameterised inserts. Each iteration runs ours and every baseline, interleaved;
// "ratio" = ours / the fastest baseline, and "ratio_<library>" against each one.
//   BM_Parse*     ns::JSONSerialization::read, the tree of values whole.
//   BM_Write*     ns::JSONSerialization::write.
//   BM_PageCall*  the bridge reading page calls as they arrive: a call with a 1 MiB string, JSON
//                 text where the engine left it, routed (callback id, names, the arguments' text
//                 and nesting) and its argument read by the plug-in; the SQL batch posted as one
//                 call, routed, and its database named on the main thread as the plug-in reads
//                 it there (its statements are read as they run: see sqlite_batch); a batch of
//                 10 000 calls as the queue reads a batch (checked whole, split into its
//                 commands), then also with every command routed from its text as it runs, and
//                 the whole road as the queue takes it (commands of short arguments read with
//                 the batch, every command's arguments read as values). Goal: at most 1.5
//                 against the DOM parse. "AsTree" is no baseline but the whole road as it was
//                 taken before (one tree of values for the batch), for comparison in one run.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/BenchCompare.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/JSONText.h"
#include "plugins/device_storage/SQLitePlugin.h"

namespace {

std::string bigStringPayload() {
    const std::string words = "the quick brown fox jumps over the lazy dog 0123456789 ";
    std::string text;
    while (text.size() < (1u << 20)) text += words;
    text.resize(1u << 20);
    return "[\"" + text + "\"]";
}

std::string callBatch() {
    std::string text = "[";
    for (int i = 0; i < 10000; ++i) {
        if (i) text += ',';
        text += "[\"Foo" + std::to_string(i) +
                "\",\"Echo\",\"echo\",[\"some text\",42,true,{\"k\":\"v\"}]]";
    }
    return text + "]";
}

// A page call of the Echo service carrying `argument`.
std::string pageCall(const std::string& argument) {
    return "[\"Cb1\",\"Echo\",\"echo\"," + argument + "]";
}

// The page call of a batch of inserts, as the SQLite plug-in receives it.
std::string sqlBatch() {
    std::string text =
        R"([["SQL1","SQLitePlugin","backgroundExecuteSqlBatch",[{"dbargs":{"dbname":"a.db"},)"
        R"("executes":[{"sql":"BEGIN"})";
    for (int i = 0; i < 10000; ++i) {
        text += R"x(,{"sql":"INSERT INTO t VALUES (?, ?, ?)","params":[)x" + std::to_string(i) +
                ",\"label " + std::to_string(i) + "\"," + std::to_string(i * 0.5) + "]}";
    }
    return text + R"(,{"sql":"COMMIT"}]}]]])";
}

using bench::Baseline;
using bench::compare;

void parse(benchmark::State& state, const std::string& text) {
    const simdjson::padded_string padded(text);
    simdjson::dom::parser simd;
    compare(state,
            [&] {
                auto v = ns::JSONSerialization::read(text);
                if (!v) std::abort();
                benchmark::DoNotOptimize(v);
            },
            {{"tree",
              [&] {
                  rapidjson::Document d;
                  d.Parse(text.c_str(), text.size());
                  if (d.HasParseError()) std::abort();
                  benchmark::DoNotOptimize(d);
              }},
             {"simd", [&] {
                  simdjson::dom::element root;
                  if (simd.parse(padded).get(root)) std::abort();
                  benchmark::DoNotOptimize(root);
              }}});
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

void write(benchmark::State& state, const std::string& text) {
    auto value = ns::JSONSerialization::read(text);
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    const simdjson::padded_string padded(text);
    simdjson::dom::parser simd;
    simdjson::dom::element root;
    if (!value || doc.HasParseError() || simd.parse(padded).get(root)) std::abort();
    compare(state,
            [&] {
                auto out = ns::JSONSerialization::write(*value);
                if (!out) std::abort();
                benchmark::DoNotOptimize(out);
            },
            {{"tree",
              [&] {
                  rapidjson::StringBuffer buffer;
                  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
                  doc.Accept(writer);
                  benchmark::DoNotOptimize(buffer.GetString());
              }},
             {"simd", [&] { benchmark::DoNotOptimize(simdjson::minify(root)); }}});
}

void BM_ParseBigString(benchmark::State& state) {
    static const std::string text = bigStringPayload();
    parse(state, text);
}

void BM_WriteBigString(benchmark::State& state) {
    static const std::string text = bigStringPayload();
    write(state, text);
}

void BM_ParseCallBatch(benchmark::State& state) {
    static const std::string text = callBatch();
    parse(state, text);
}

void BM_WriteCallBatch(benchmark::State& state) {
    static const std::string text = callBatch();
    write(state, text);
}

void BM_ParseSqlBatch(benchmark::State& state) {
    static const std::string text = sqlBatch();
    parse(state, text);
}

// The DOM baseline of the page-call rows.
Baseline domParse(const simdjson::padded_string& padded, simdjson::dom::parser& parser) {
    return {"simd", [&] {
                simdjson::dom::element root;
                if (parser.parse(padded).get(root)) std::abort();
                benchmark::DoNotOptimize(root);
            }};
}

// JSON text where the engine leaves it, padded: the bridge takes it over without a copy.
struct EngineText {
    explicit EngineText(const std::string& json) : buffer(json + std::string(64, ' ')) {}
    ns::JSONSlice slice() const {
        return ns::JSONSlice(
            ns::JSONText::adopt(buffer.data(), buffer.size() - 64, buffer.size(), [] {}));
    }
    std::string buffer;
};

// Times `read` (given the call's text where the engine left it) against the DOM parse of it.
template <class Read>
void readPageCall(benchmark::State& state, const std::string& text, Read read) {
    const EngineText engine(text);
    const simdjson::padded_string padded(text);
    simdjson::dom::parser simd;
    compare(state, [&] { read(engine.slice()); }, {domParse(padded, simd)});
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

// A page call with a string argument as the bridge reads it: routed, and its argument read by
// the plug-in.
void BM_PageCallBigString(benchmark::State& state) {
    static const std::string text = pageCall(bigStringPayload());
    readPageCall(state, text, [](const ns::JSONSlice& call) {
        auto command = HYBInvokedUrlCommand::commandFromJSONText(call);
        if (!command || !command->argumentAtIndex(0).isString()) std::abort();
        benchmark::DoNotOptimize(command->argumentAtIndex(0));
    });
}

// A batch of calls read as `how` says: the page's answer to a fetch of its queued calls,
// checked whole (off the main thread for a long batch) and split into its commands' texts;
// then `each` with every command's text, or with the command itself where it was read with the
// batch.
template <class Each>
void readCallBatch(benchmark::State& state, HYBCommandQueue::BatchRead how, Each each) {
    static const std::string text = callBatch();
    readPageCall(state, text, [&](const ns::JSONSlice& batch) {
        auto commands = HYBCommandQueue::readBatch(batch, how);
        if (commands.size() != 10000) std::abort();
        if constexpr (!std::is_same_v<Each, std::nullptr_t>) {
            for (size_t i = 0; i < commands.size(); ++i) each(commands, i);
        }
        benchmark::DoNotOptimize(commands);
    });
}

// A command routed as the queue routes it when it runs.
HYBInvokedUrlCommand routed(HYBCommandQueue::CommandBatch& batch, size_t index) {
    if (auto command = batch.takeRead(index)) return std::move(*command);
    auto command = HYBInvokedUrlCommand::commandFromJSONText(batch.command(index));
    if (!command) std::abort();
    return std::move(*command);
}

// Checked and split only.
void BM_PageCallBatch(benchmark::State& state) {
    readCallBatch(state, HYBCommandQueue::BatchRead::kTexts, nullptr);
}

// The same, with every command then routed from its text.
void BM_PageCallBatchRouted(benchmark::State& state) {
    readCallBatch(state, HYBCommandQueue::BatchRead::kTexts,
                  [](auto& batch, size_t i) { benchmark::DoNotOptimize(routed(batch, i)); });
}

// The whole road of a batch as the queue takes it: read with its commands, every command
// routed and its arguments read as values, which is what a batch's plug-ins ask of it.
void BM_PageCallBatchArguments(benchmark::State& state) {
    readCallBatch(state, HYBCommandQueue::BatchRead::kCommands, [](auto& batch, size_t i) {
        const HYBInvokedUrlCommand command = routed(batch, i);
        if (command.arguments().size() != 4) std::abort();
        benchmark::DoNotOptimize(command);
    });
}

// Not a baseline: the whole road as this program took it before, for comparing ours then and
// now in one run. The batch read whole as one tree of values, each command then taken from it.
void BM_PageCallBatchArgumentsAsTree(benchmark::State& state) {
    static const std::string text = callBatch();
    readPageCall(state, text, [](const ns::JSONSlice& batch) {
        auto read = ns::JSONSerialization::read(batch.text(), {.loneSurrogatesReplaced = true});
        if (!read || !read->isArray()) std::abort();
        for (ns::Value& call : *read->array()) {
            auto command = HYBInvokedUrlCommand::commandFromJson(std::move(call));
            if (!command || command->arguments().size() != 4) std::abort();
            benchmark::DoNotOptimize(*command);
        }
    });
}

// The SQL batch as the page posts it (one call, where the engine left its text): routed, and
// the database it names read on the main thread as the plug-in reads it there; its statements
// are read as they run (see sqlite_batch).
void BM_PageCallSqlBatch(benchmark::State& state) {
    static const std::string batch = sqlBatch();
    static const std::string text = batch.substr(1, batch.size() - 2);
    readPageCall(state, text, [](const ns::JSONSlice& call) {
        auto command = HYBInvokedUrlCommand::commandFromJSONText(call);
        if (!command || !command->argumentsJSON()) std::abort();
        if (SQLitePlugin::databaseNameOf(*command) != "a.db") std::abort();
    });
}

BENCHMARK(BM_PageCallBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageCallBatchRouted)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageCallBatchArguments)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageCallBatchArgumentsAsTree)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageCallSqlBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseSqlBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
