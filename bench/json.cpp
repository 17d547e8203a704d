// JSON reading and writing through ns::JSONSerialization against the JSON libraries at their
// fastest, in the same run: the tree library with its SSE4.2 paths and default flags, and the
// SIMD library's DOM parser (reused, on padded input, as its documentation advises). Shapes: a
// 1 MiB string payload, a batch of 10 000 small page calls, and an SQL batch of 10 000
// parameterised inserts. Each iteration runs ours and every baseline, interleaved;
// "ratio" = ours / the fastest baseline (goal for reading: at most 1.2), and "ratio_<library>"
// against each one.
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
#include <vector>

#include "platform/ns/JSONSerialization.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Baseline {
    const char* name;
    std::function<void()> run;
};

// Times `ours` as the benchmark's iteration time and each baseline beside it.
template <class Ours>
void compare(benchmark::State& state, Ours ours, const std::vector<Baseline>& baselines) {
    double oursTotal = 0;
    std::vector<double> totals(baselines.size());
    for (auto _ : state) {
        auto t0 = Clock::now();
        ours();
        const double o = seconds(Clock::now() - t0);
        oursTotal += o;
        for (size_t i = 0; i < baselines.size(); ++i) {
            t0 = Clock::now();
            baselines[i].run();
            totals[i] += seconds(Clock::now() - t0);
        }
        state.SetIterationTime(o);
    }
    const double fastest = *std::min_element(totals.begin(), totals.end());
    for (size_t i = 0; i < baselines.size(); ++i) {
        state.counters[std::string("ratio_") + baselines[i].name] =
            totals[i] > 0 ? oursTotal / totals[i] : 0;
    }
    state.counters["library_ms"] = 1e3 * fastest / static_cast<double>(state.iterations());
    state.counters["ratio"] = fastest > 0 ? oursTotal / fastest : 0;
}

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

BENCHMARK(BM_ParseBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseSqlBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
