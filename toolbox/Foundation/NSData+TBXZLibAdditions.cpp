#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ns/Exception.h"

namespace {

enum class Framing { Zlib = 0, Gzip = 1, Raw = 2 };

constexpr int kMaxWindowBits = 15;
constexpr int kGzipWindowBitsOffset = 16;
constexpr int kAutoDetectWindowBitsOffset = 32;
constexpr int kDefaultMemLevel = 8;
// Deflate cannot expand data by more than this factor; a size claim beyond it is a lie.
constexpr size_t kMaxDeflateRatio = 1032;
constexpr size_t kFirstWindow = size_t{64} << 10;

// zlib counts bytes in 32-bit fields.
bool usableInput(const void* bytes, size_t length) {
    return bytes != nullptr && length > 0 && length <= UINT32_MAX;
}

int windowBitsFor(Framing framing) {
    switch (framing) {
        case Framing::Gzip:
            return kMaxWindowBits + kGzipWindowBitsOffset;
        case Framing::Raw:
            return -kMaxWindowBits;
        case Framing::Zlib:
            break;
    }
    return kMaxWindowBits;
}

int clampedLevel(int32_t level) {
    if (level == Z_DEFAULT_COMPRESSION) return level;
    return std::clamp(level, 1, 9);  // 0 would store; the smallest level still compresses
}

// Points the stream's output at the unused tail of `out`, at most what one zlib call can take.
void exposeTail(z_stream& s, std::vector<uint8_t>& out, size_t used) {
    s.next_out = out.data() + used;
    s.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - used, UINT32_MAX));
}

class DeflateStream {
public:
    explicit DeflateStream(z_stream& s) : s_(s) {}
    ~DeflateStream() { deflateEnd(&s_); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

private:
    z_stream& s_;
};

class InflateStream {
public:
    explicit InflateStream(z_stream& s) : s_(s) {}
    ~InflateStream() { inflateEnd(&s_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

private:
    z_stream& s_;
};

std::optional<ns::Data> compressBytes(const void* bytes, size_t length, int32_t level,
                                      Framing framing) {
    if (!usableInput(bytes, length)) return std::nullopt;
    z_stream s{};
    if (deflateInit2_(&s, clampedLevel(level), Z_DEFLATED, windowBitsFor(framing), kDefaultMemLevel,
                      Z_DEFAULT_STRATEGY, zlibVersion(),
                      static_cast<int>(sizeof(z_stream))) != Z_OK) {
        return std::nullopt;
    }
    DeflateStream guard(s);
    s.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    s.avail_in = static_cast<uInt>(length);
    // The bound lets one deflate call finish the stream; the loop only guards against a
    // library that needs more.
    std::vector<uint8_t> out(deflateBound(&s, static_cast<uLong>(length)));
    size_t used = 0;
    for (;;) {
        exposeTail(s, out, used);
        const uInt before = s.avail_out;
        const int rc = deflate(&s, Z_FINISH);
        used += before - s.avail_out;
        if (rc == Z_STREAM_END) break;
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || s.avail_out != 0) return std::nullopt;
        out.resize(out.size() * 2);
    }
    if (s.avail_in != 0) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "thought we finished deflate w/o using all input, " +
                                std::to_string(s.avail_in) + " bytes left");
    }
    out.resize(used);
    if (out.capacity() - used > used / 2) out.shrink_to_fit();
    return ns::Data(std::move(out));
}

// What a gzip trailer says the inflated size is (modulo 2^32), or 0 when there is none.
size_t gzipSizeClaim(const uint8_t* p, size_t length) {
    if (length < 18 || p[0] != 0x1F || p[1] != 0x8B) return 0;
    const uint8_t* t = p + length - 4;
    return size_t{t[0]} | size_t{t[1]} << 8 | size_t{t[2]} << 16 | size_t{t[3]} << 24;
}

// The first output reservation: the gzip trailer's claim when it is plausible, else a small
// first window whose yield shows how far the data expands. A true claim is taken exactly (the
// stream ends with the buffer full, and a byte more can put the block in a costlier class of
// the allocator); past the caller's limit it is the limit and one byte that shows whether the
// data would run past it.
size_t firstReservation(const uint8_t* p, size_t length, bool raw, size_t maxLength) {
    const size_t claim = raw ? 0 : gzipSizeClaim(p, length);
    const size_t guess = claim > 0 && claim <= length * kMaxDeflateRatio ? claim : kFirstWindow;
    return guess <= maxLength ? guess : maxLength + 1;
}

// The next output size: the total that the expansion so far projects, with a little room,
// and at least a quarter more than now so that growth stays geometric.
size_t nextReservation(size_t current, size_t produced, size_t consumed, size_t length,
                       size_t limit) {
    double projected = static_cast<double>(current) * 2;
    if (consumed > 0) {
        projected = static_cast<double>(produced) * static_cast<double>(length) /
                    static_cast<double>(consumed) * 1.0625;
    }
    const double grown = std::max(projected, static_cast<double>(current + current / 4 + 1));
    return grown >= static_cast<double>(limit) ? limit : static_cast<size_t>(grown);
}

std::optional<ns::Data> inflateBytes(const void* bytes, size_t length, bool raw, size_t maxLength) {
    if (!usableInput(bytes, length)) return std::nullopt;
    maxLength = std::min(maxLength, SIZE_MAX - 1);
    z_stream s{};
    const int windowBits = raw ? -kMaxWindowBits : kMaxWindowBits + kAutoDetectWindowBitsOffset;
    if (inflateInit2_(&s, windowBits, zlibVersion(), static_cast<int>(sizeof(z_stream))) != Z_OK) {
        return std::nullopt;
    }
    InflateStream guard(s);
    const auto* input = static_cast<const uint8_t*>(bytes);
    s.next_in = const_cast<Bytef*>(input);
    s.avail_in = static_cast<uInt>(length);
    const size_t limit = maxLength + 1;
    std::vector<uint8_t> out(firstReservation(input, length, raw, maxLength));
    size_t used = 0;
    for (;;) {
        exposeTail(s, out, used);
        const uInt before = s.avail_out;
        const int rc = inflate(&s, Z_NO_FLUSH);
        used += before - s.avail_out;
        if (used > maxLength) return std::nullopt;
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) return std::nullopt;  // bad data, dictionary
        if (s.avail_out != 0) {
            if (rc == Z_BUF_ERROR) return std::nullopt;  // input cut short
            continue;
        }
        if (used == out.size()) {
            out.resize(nextReservation(out.size(), used, length - s.avail_in, length, limit));
        }
    }
    if (s.avail_in != 0) return std::nullopt;  // bytes after the end of the stream
    out.resize(used);
    return ns::Data(std::move(out));
}

}  // namespace

std::optional<ns::Data> tbx_dataByGzippingBytes(const void* bytes, size_t length, int32_t level) {
    return compressBytes(bytes, length, level, Framing::Gzip);
}
std::optional<ns::Data> tbx_dataByGzippingData(const ns::Data& data, int32_t level) {
    return tbx_dataByGzippingBytes(data.bytes(), data.length(), level);
}

std::optional<ns::Data> tbx_dataByDeflatingBytes(const void* bytes, size_t length, int32_t level) {
    return compressBytes(bytes, length, level, Framing::Zlib);
}
std::optional<ns::Data> tbx_dataByDeflatingData(const ns::Data& data, int32_t level) {
    return tbx_dataByDeflatingBytes(data.bytes(), data.length(), level);
}

std::optional<ns::Data> tbx_dataByRawDeflatingBytes(const void* bytes, size_t length,
                                                    int32_t level) {
    return compressBytes(bytes, length, level, Framing::Raw);
}
std::optional<ns::Data> tbx_dataByRawDeflatingData(const ns::Data& data, int32_t level) {
    return tbx_dataByRawDeflatingBytes(data.bytes(), data.length(), level);
}

std::optional<ns::Data> tbx_dataByInflatingBytes(const void* bytes, size_t length,
                                                 size_t maxLength) {
    return inflateBytes(bytes, length, false, maxLength);
}
std::optional<ns::Data> tbx_dataByInflatingData(const ns::Data& data, size_t maxLength) {
    return tbx_dataByInflatingBytes(data.bytes(), data.length(), maxLength);
}

std::optional<ns::Data> tbx_dataByRawInflatingBytes(const void* bytes, size_t length,
                                                    size_t maxLength) {
    return inflateBytes(bytes, length, true, maxLength);
}
std::optional<ns::Data> tbx_dataByRawInflatingData(const ns::Data& data, size_t maxLength) {
    return tbx_dataByRawInflatingBytes(data.bytes(), data.length(), maxLength);
}
