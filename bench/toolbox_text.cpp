// Text and data helpers against plain uses of the libraries under them. Each benchmark times
// our call and the baseline call in the same iteration and reports ratio = ours / baseline.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolbox/Foundation/NSDK_TBXStringEncoding.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"
#include "toolbox/Foundation/NSString+TBXNSStringHTMLAdditions.h"

namespace {

using Clock = std::chrono::steady_clock;

ns::Data textData(size_t length) {
    std::string text;
    text.reserve(length + 128);
    for (size_t i = 0; text.size() < length; ++i) {
        text += "record " + std::to_string(i * 7919 % 100003) +
                ": {\"event\":\"screen_view\",\"params\":{\"name\":\"home\",\"ms\":" +
                std::to_string(i % 977) + "}}\n";
    }
    text.resize(length);
    return ns::Data::fromString(text);
}

ns::Data randomData(size_t length) {
    std::vector<uint8_t> bytes(length);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 32);
    }
    return ns::Data(std::move(bytes));
}

ns::Data input(const benchmark::State& state) {
    const auto length = static_cast<size_t>(state.range(0)) << 20;
    return state.range(1) == 0 ? textData(length) : randomData(length);
}

// Times `ours` and `baseline` once per iteration; the iteration time is ours.
void compare(benchmark::State& state, size_t bytes, const std::function<void()>& ours,
             const std::function<void()>& baseline) {
    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        ours();
        auto t1 = Clock::now();
        baseline();
        auto t2 = Clock::now();
        const double o = std::chrono::duration<double>(t1 - t0).count();
        oursTotal += o;
        baseTotal += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(o);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["ratio"] = oursTotal / baseTotal;
}

std::vector<uint8_t> oneShotDeflate(const ns::Data& in, int windowBits) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&s, in.length()));
    s.next_in = const_cast<Bytef*>(in.bytes());
    s.avail_in = static_cast<uInt>(in.length());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// The inflated bytes, in a buffer that is not zero-filled first: inflate writes all of it.
struct Inflated {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    bool operator==(const ns::Data& data) const {
        return size == data.length() && std::equal(bytes.get(), bytes.get() + size, data.bytes());
    }
};

Inflated oneShotInflate(const ns::Data& in, size_t outLength) {
    z_stream s{};
    inflateInit2(&s, 15 + 32);
    Inflated out{std::make_unique_for_overwrite<uint8_t[]>(outLength), 0};
    s.next_in = const_cast<Bytef*>(in.bytes());
    s.avail_in = static_cast<uInt>(in.length());
    s.next_out = out.bytes.get();
    s.avail_out = static_cast<uInt>(outLength);
    inflate(&s, Z_FINISH);
    out.size = s.total_out;
    inflateEnd(&s);
    return out;
}

void BM_Gzip(benchmark::State& state) {
    const auto in = input(state);
    if (tbx_dataByGzippingData(in)->vector() != oneShotDeflate(in, 31)) {
        state.SkipWithError("gzip output differs from the one-shot deflate");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(tbx_dataByGzippingData(in)); },
        [&] { benchmark::DoNotOptimize(oneShotDeflate(in, 31)); });
}

void BM_Deflate(benchmark::State& state) {
    const auto in = input(state);
    auto compress2Once = [&] {
        std::vector<uint8_t> out(compressBound(in.length()));
        uLongf size = out.size();
        compress2(out.data(), &size, in.bytes(), in.length(), Z_DEFAULT_COMPRESSION);
        out.resize(size);
        return out;
    };
    if (tbx_dataByDeflatingData(in)->vector() != compress2Once()) {
        state.SkipWithError("zlib output differs from compress2");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(tbx_dataByDeflatingData(in)); },
        [&] { benchmark::DoNotOptimize(compress2Once()); });
}

void BM_InflateGzip(benchmark::State& state) {
    const auto in = input(state);
    const auto packed = *tbx_dataByGzippingData(in);
    if (*tbx_dataByInflatingData(packed) != in || !(oneShotInflate(packed, in.length()) == in)) {
        state.SkipWithError("inflation does not restore the input");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(tbx_dataByInflatingData(packed)); },
        [&] { benchmark::DoNotOptimize(oneShotInflate(packed, in.length())); });
}

void BM_InflateZlib(benchmark::State& state) {
    const auto in = input(state);
    const auto packed = *tbx_dataByDeflatingData(in);
    auto uncompressOnce = [&] {
        Inflated out{std::make_unique_for_overwrite<uint8_t[]>(in.length()), 0};
        uLongf size = in.length();
        uncompress(out.bytes.get(), &size, packed.bytes(), packed.length());
        out.size = size;
        return out;
    };
    if (*tbx_dataByInflatingData(packed) != in || !(uncompressOnce() == in)) {
        state.SkipWithError("inflation does not restore the input");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(tbx_dataByInflatingData(packed)); },
        [&] { benchmark::DoNotOptimize(uncompressOnce()); });
}

#define ZLIB_ARGS ArgsProduct({{1, 16}, {0, 1}})->ArgNames({"MiB", "random"})->UseManualTime()
BENCHMARK(BM_Gzip)->ZLIB_ARGS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deflate)->ZLIB_ARGS->Unit(benchmark::kMillisecond);
// Inflation also at 64 MiB, past the sizes an allocator keeps in its ordinary pools.
#define INFLATE_ARGS \
    ArgsProduct({{1, 16, 64}, {0, 1}})->ArgNames({"MiB", "random"})->UseManualTime()
BENCHMARK(BM_InflateGzip)->INFLATE_ARGS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateZlib)->INFLATE_ARGS->Unit(benchmark::kMillisecond);

// HTML text with one entity per 10 bytes on average (100k entities per MiB). The counter
// ns_per_byte stays flat from 1 to 4 MiB when unescaping is linear.
std::string entityText(size_t mebibytes) {
    const char* pieces[] = {"&lt;",   "&amp;", "&#233;", "&#x20AC;", "&eacute;",
                            "&nbsp;", "&foo;", "& ",     "&quot;",   "&thetasym;"};
    std::string text;
    const size_t length = mebibytes << 20;
    for (size_t i = 0; text.size() < length; ++i) {
        text += pieces[i % 10];
        text.append(4 + i % 3, 'x');
    }
    return text;
}

void BM_UnescapeHTML(benchmark::State& state) {
    const auto text = entityText(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(tbx_stringByUnescapingFromHTML(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["ns_per_byte"] =
        benchmark::Counter(static_cast<double>(state.iterations() * text.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_UnescapeHTML)->Arg(1)->Arg(4)->ArgName("MiB")->Unit(benchmark::kMillisecond);

std::string evpEncode(const ns::Data& in) {
    std::string out(4 * ((in.length() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.bytes(),
                                  static_cast<int>(in.length()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<uint8_t> evpDecode(const std::string& text) {
    std::vector<uint8_t> out(3 * text.size() / 4 + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::shared_ptr<NSDK_TBXStringEncoding> encodingFor(const benchmark::State& state) {
    return state.range(0) == 64 ? NSDK_TBXStringEncoding::rfc4648Base64StringEncoding()
                                : NSDK_TBXStringEncoding::rfc4648Base32StringEncoding();
}

// Base 32 has no counterpart in the library; it is measured against base 64 there.
void BM_Encode(benchmark::State& state) {
    const auto in = randomData(1 << 20);
    const auto encoding = encodingFor(state);
    if (state.range(0) == 64 && encoding->encode(in) != evpEncode(in)) {
        state.SkipWithError("base 64 text differs from the library's");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(encoding->encode(in)); },
        [&] { benchmark::DoNotOptimize(evpEncode(in)); });
}

void BM_Decode(benchmark::State& state) {
    const auto in = randomData(1 << 20);
    const auto encoding = encodingFor(state);
    const auto text = encoding->encode(in);
    const auto evpText = evpEncode(in);
    if (encoding->decode(text) != in) {
        state.SkipWithError("decoding does not restore the input");
        return;
    }
    compare(
        state, in.length(), [&] { benchmark::DoNotOptimize(encoding->decode(text)); },
        [&] { benchmark::DoNotOptimize(evpDecode(evpText)); });
}
BENCHMARK(BM_Encode)->Arg(64)->Arg(32)->ArgName("base")->UseManualTime();
BENCHMARK(BM_Decode)->Arg(64)->Arg(32)->ArgName("base")->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
