// JSON reading and writing through ns::JSONSerialization against the plain use of the JSON
// library: a 1 MiB string payload and a batch of 10 000 small page calls. Each iteration runs
// both, interleaved, so that "ratio" (ours / library) compares like with like in one run.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/ns/JSONSerialization.h"

namespace {

using Clock = std::chrono::steady_clock;

// The library parses the way our reader must: validating UTF-8.
constexpr unsigned kLibraryParseFlags = rapidjson::kParseValidateEncodingFlag;

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

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Times `ours` as the benchmark's iteration time and `library` beside it.
template <class Ours, class Library>
void compare(benchmark::State& state, Ours ours, Library library) {
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        ours();
        auto t1 = Clock::now();
        library();
        auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["library_ms"] = 1e3 * libraryTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
}

void parse(benchmark::State& state, const std::string& text) {
    compare(
        state,
        [&] {
            auto v = ns::JSONSerialization::read(text);
            if (!v) std::abort();
            benchmark::DoNotOptimize(v);
        },
        [&] {
            rapidjson::Document d;
            d.Parse<kLibraryParseFlags>(text.c_str(), text.size());
            if (d.HasParseError()) std::abort();
            benchmark::DoNotOptimize(d);
        });
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

void write(benchmark::State& state, const std::string& text) {
    auto value = ns::JSONSerialization::read(text);
    rapidjson::Document doc;
    doc.Parse<kLibraryParseFlags>(text.c_str(), text.size());
    if (!value || doc.HasParseError()) std::abort();
    compare(
        state,
        [&] {
            auto out = ns::JSONSerialization::write(*value);
            if (!out) std::abort();
            benchmark::DoNotOptimize(out);
        },
        [&] {
            rapidjson::StringBuffer buffer;
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            doc.Accept(writer);
            benchmark::DoNotOptimize(buffer.GetString());
        });
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

BENCHMARK(BM_ParseBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteBigString)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteCallBatch)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
