#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

namespace {

ns::Data sampleText(size_t length) {
    std::string text;
    for (size_t i = 0; text.size() < length; ++i) {
        text += "line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog\n";
    }
    text.resize(length);
    return ns::Data::fromString(text);
}

ns::Data pseudoRandom(size_t length) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = 2463534242u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return ns::Data(std::move(bytes));
}

using Compressor = std::function<std::optional<ns::Data>(const ns::Data&)>;
using Inflater = std::function<std::optional<ns::Data>(const ns::Data&)>;

struct Framing {
    const char* name;
    Compressor compress;
    Inflater inflate;
    Inflater wrongInflate;
};

class ZLibFramingTest : public testing::TestWithParam<Framing> {};

TEST_P(ZLibFramingTest, RoundTripsTextAndRandomBytes) {
    const auto& f = GetParam();
    for (const auto& input : {sampleText(100'000), pseudoRandom(70'000), ns::Data("x", 1)}) {
        const auto packed = f.compress(input);
        ASSERT_TRUE(packed);
        const auto unpacked = f.inflate(*packed);
        ASSERT_TRUE(unpacked);
        EXPECT_EQ(*unpacked, input);
        EXPECT_FALSE(f.wrongInflate(*packed));
    }
}

TEST_P(ZLibFramingTest, EmptyInputIsRefused) {
    const auto& f = GetParam();
    EXPECT_FALSE(f.compress(ns::Data()));
    EXPECT_FALSE(f.inflate(ns::Data()));
}

TEST_P(ZLibFramingTest, TruncatedOrTrailingGarbageInflatesToNothing) {
    const auto& f = GetParam();
    const auto packed = f.compress(sampleText(5'000));
    ASSERT_TRUE(packed);
    const auto& v = packed->vector();
    for (size_t cut : {size_t{1}, size_t{4}, v.size() / 2}) {
        EXPECT_FALSE(f.inflate(ns::Data(v.data(), v.size() - cut))) << cut;
    }
    auto longer = *packed;
    longer.append("\0", 1);
    EXPECT_FALSE(f.inflate(longer));
}

std::optional<ns::Data> gzip(const ns::Data& d) {
    return tbx_dataByGzippingData(d);
}
std::optional<ns::Data> zlib(const ns::Data& d) {
    return tbx_dataByDeflatingData(d);
}
std::optional<ns::Data> raw(const ns::Data& d) {
    return tbx_dataByRawDeflatingData(d);
}
std::optional<ns::Data> inflateAuto(const ns::Data& d) {
    return tbx_dataByInflatingData(d);
}
std::optional<ns::Data> inflateRaw(const ns::Data& d) {
    return tbx_dataByRawInflatingData(d);
}

INSTANTIATE_TEST_SUITE_P(Framings, ZLibFramingTest,
                         testing::Values(Framing{"gzip", gzip, inflateAuto, inflateRaw},
                                         Framing{"zlib", zlib, inflateAuto, inflateRaw},
                                         Framing{"raw", raw, inflateRaw, inflateAuto}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZLibAdditionsTest, HeadersIdentifyTheFraming) {
    const auto input = sampleText(1'000);
    const auto g = tbx_dataByGzippingData(input)->vector();
    EXPECT_EQ(g[0], 0x1F);
    EXPECT_EQ(g[1], 0x8B);
    const auto z = tbx_dataByDeflatingData(input)->vector();
    EXPECT_EQ(z[0] & 0x0F, 8);               // method deflate
    EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0);  // header check bits
    const auto r = tbx_dataByRawDeflatingData(input)->vector();
    EXPECT_NE(r[0], 0x1F);
    EXPECT_NE((r[0] & 0x0F) == 8 && (r[0] * 256 + r[1]) % 31 == 0, true);
}

TEST(ZLibAdditionsTest, MatchesTheLibrarysOneShotCompression) {
    const auto input = sampleText(50'000);
    std::vector<uint8_t> expected(compressBound(input.length()));
    uLongf size = expected.size();
    ASSERT_EQ(
        compress2(expected.data(), &size, input.bytes(), input.length(), Z_DEFAULT_COMPRESSION),
        Z_OK);
    expected.resize(size);
    EXPECT_EQ(tbx_dataByDeflatingData(input)->vector(), expected);
}

TEST(ZLibAdditionsTest, LevelsAreClampedToTheCompressingRange) {
    const auto input = sampleText(20'000);
    EXPECT_EQ(tbx_dataByGzippingData(input, 0), tbx_dataByGzippingData(input, 1));
    EXPECT_EQ(tbx_dataByGzippingData(input, -7), tbx_dataByGzippingData(input, 1));
    EXPECT_EQ(tbx_dataByDeflatingData(input, 12), tbx_dataByDeflatingData(input, 9));
    EXPECT_EQ(tbx_dataByRawDeflatingData(input, -1), tbx_dataByRawDeflatingData(input, 6));
    EXPECT_NE(tbx_dataByRawDeflatingData(input, 1), tbx_dataByRawDeflatingData(input, 9));
    // Level 0 would store: the output would be longer than the input.
    EXPECT_LT(tbx_dataByDeflatingData(input, 0)->length(), input.length());
}

TEST(ZLibAdditionsTest, BytesFormsRefuseANullPointer) {
    EXPECT_FALSE(tbx_dataByGzippingBytes(nullptr, 10));
    EXPECT_FALSE(tbx_dataByInflatingBytes(nullptr, 10));
    EXPECT_FALSE(tbx_dataByRawInflatingBytes(nullptr, 10));
}

TEST(ZLibAdditionsTest, InflationStopsAtTheOutputLimit) {
    const ns::Data zeros(std::vector<uint8_t>(1 << 20));
    const auto packed = tbx_dataByGzippingData(zeros);
    ASSERT_TRUE(packed);
    EXPECT_FALSE(tbx_dataByInflatingData(*packed, zeros.length() - 1));
    EXPECT_EQ(tbx_dataByInflatingData(*packed, zeros.length()), zeros);
    // The size in the gzip trailer is only a hint for the first reservation; the stream's own
    // check still refuses a trailer that disagrees with the data.
    auto lying = *packed;
    auto& v = lying.mutableVector();
    v[v.size() - 4] = 0;
    v[v.size() - 3] = 0;
    v[v.size() - 2] = 0;
    v[v.size() - 1] = 0;
    EXPECT_FALSE(tbx_dataByInflatingData(lying));
    // A claim far below the truth only costs growth steps.
    for (size_t claim : {size_t{1}, size_t{2}, size_t{1000}}) {
        auto small = *tbx_dataByGzippingData(ns::Data("abcabcabcabcabc", 15));
        auto& b = small.mutableVector();
        for (int k = 0; k < 4; ++k) b[b.size() - 4 + k] = static_cast<uint8_t>(claim >> (8 * k));
        EXPECT_FALSE(tbx_dataByInflatingData(small)) << claim;  // the length check still fails
    }
    const auto rawPacked = tbx_dataByRawDeflatingData(zeros);
    EXPECT_FALSE(tbx_dataByRawInflatingData(*rawPacked, 1000));
}

// A raw deflate stream that inflates to `megabytes` MiB of zeros, built from one repeated
// fully flushed block so that the test need not compress the whole amount.
std::vector<uint8_t> zeroBomb(size_t megabytes) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> zeros(1 << 20);
    std::vector<uint8_t> buf(1 << 16);
    auto flush = [&](size_t inLength, int mode) {
        s.next_in = zeros.data();
        s.avail_in = static_cast<uInt>(inLength);
        s.next_out = buf.data();
        s.avail_out = static_cast<uInt>(buf.size());
        deflate(&s, mode);
        return std::vector<uint8_t>(buf.data(), s.next_out);
    };
    flush(zeros.size(), Z_FULL_FLUSH);  // the first block may differ: no history yet
    const auto block = flush(zeros.size(), Z_FULL_FLUSH);
    EXPECT_EQ(flush(zeros.size(), Z_FULL_FLUSH), block);
    std::vector<uint8_t> bomb;
    for (size_t i = 0; i < megabytes; ++i) bomb.insert(bomb.end(), block.begin(), block.end());
    const auto tail = flush(0, Z_FINISH);
    bomb.insert(bomb.end(), tail.begin(), tail.end());
    deflateEnd(&s);
    return bomb;
}

TEST(ZLibAdditionsTest, DecompressionBombGivesNothingUnderTheDefaultLimit) {
    const auto small = zeroBomb(3);
    const auto unpacked = tbx_dataByRawInflatingBytes(small.data(), small.size());
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(unpacked->length(), size_t{3} << 20);

    const auto bomb = zeroBomb((kTBXDefaultMaxInflatedLength >> 20) + 1);
    EXPECT_LT(bomb.size(), size_t{1} << 20);
    EXPECT_FALSE(tbx_dataByRawInflatingBytes(bomb.data(), bomb.size()));
}

}  // namespace
