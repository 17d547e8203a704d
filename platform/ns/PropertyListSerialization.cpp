#include "platform/ns/PropertyListSerialization.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/PropertyListBinary.h"
#include "platform/ns/PropertyListXML.h"

namespace ns {

namespace {

constexpr std::string_view kBinaryMagic = PropertyListBinary::kMagic;

Error readError(std::string reason) {
    return cocoaError(kPropertyListReadCorruptError, std::move(reason));
}

// ---------------------------------------------------------------------------------------------
// Checks of binary input before the property list library's parser sees it, for readers that
// walk that parser's nodes (see binaryRefusal).

// A big-endian unsigned integer of 1 to 8 bytes.
uint64_t bigEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// Checks a binary property list before the parser sees it. The parser recurses once per level
// without bound, loops on self-containing objects, and stops the process on a dictionary key
// that holds a NUL character or is no string; such input is refused here. Other structural
// faults are left to the parser, which reports them.
class BinaryPrecheck {
public:
    BinaryPrecheck(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // Empty when the input may go to the parser, otherwise the reason to refuse it.
    std::optional<std::string> problem(size_t maxDepth) {
        if (size_ < kBinaryMagic.size() + 32) return std::nullopt;
        const uint8_t* trailer = data_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        count_ = bigEndian(trailer + 8, 8);
        const uint64_t top = bigEndian(trailer + 16, 8);
        tableOffset_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8)
            return std::nullopt;
        if (tableOffset_ >= size_ || count_ > (size_ - tableOffset_) / offsetSize_)
            return std::nullopt;
        if (top >= count_) return std::nullopt;
        height_.assign(count_, kUnvisited);
        return walk(top, maxDepth);
    }

private:
    static constexpr uint32_t kUnvisited = std::numeric_limits<uint32_t>::max();
    static constexpr uint32_t kOnPath = kUnvisited - 1;

    // An object's kind (the marker's high nibble), element count and where its body starts.
    struct Header {
        uint8_t kind;
        uint64_t count;
        size_t body;
    };

    struct Frame {
        uint64_t object;
        uint64_t next;   // index of the next child reference to follow
        uint64_t total;  // number of child references
        size_t refs;     // file offset of the first reference
        uint32_t height;
    };

    std::optional<Header> header(uint64_t object) const {
        const uint64_t at = bigEndian(data_ + tableOffset_ + object * offsetSize_, offsetSize_);
        if (at >= size_) return std::nullopt;
        Header h{static_cast<uint8_t>(data_[at] >> 4), data_[at] & 0x0Fu, at + 1};
        const bool counted = (h.kind >= 0x4 && h.kind <= 0x6) || h.kind >= 0xA;
        if (counted && h.count == 0x0F) {  // the count follows as an integer object
            if (h.body >= size_ || (data_[h.body] >> 4) != 0x1) return std::nullopt;
            const size_t width = size_t{1} << (data_[h.body] & 0x03);
            if (h.body + 1 + width > size_) return std::nullopt;
            h.count = bigEndian(data_ + h.body + 1, width);
            h.body += 1 + width;
        }
        return h;
    }

    uint64_t reference(size_t at) const { return bigEndian(data_ + at, refSize_); }

    // Whether the 16-byte two's complement integer at `at` lies within int64.
    bool holdsInt64(size_t at) const {
        if (at > size_ || size_ - at < 16) return true;  // malformed; the parser refuses it
        const uint64_t high = bigEndian(data_ + at, 8);
        const bool negative = (data_[at + 8] & 0x80) != 0;
        return high == (negative ? std::numeric_limits<uint64_t>::max() : 0);
    }

    // A dictionary key must be an ASCII or UTF-16 string without NUL characters.
    bool isUsableKey(uint64_t object) const {
        if (object >= count_) return false;
        const std::optional<Header> h = header(object);
        if (!h || (h->kind != 0x5 && h->kind != 0x6)) return false;
        const uint64_t unit = h->kind == 0x5 ? 1 : 2;
        if (h->count > (size_ - h->body) / unit) return false;
        for (uint64_t i = 0; i < h->count; ++i) {
            const uint8_t* c = data_ + h->body + i * unit;
            if (c[0] == 0 && (unit == 1 || c[1] == 0)) return false;
        }
        return true;
    }

    std::optional<std::string> walk(uint64_t top, size_t maxDepth) {
        std::vector<Frame> path;
        if (auto refused = push(path, top)) return refused;
        while (!path.empty()) {
            Frame& f = path.back();
            if (f.next == f.total) {
                const uint32_t h = f.height;
                height_[f.object] = h;
                path.pop_back();
                if (!path.empty()) path.back().height = std::max(path.back().height, h + 1);
                continue;
            }
            const uint64_t child = reference(f.refs + f.next * refSize_);
            ++f.next;
            if (child >= count_) continue;
            const uint32_t h = height_[child];
            if (h == kOnPath) return "Property list object contains itself";
            if (h != kUnvisited) {
                if (path.size() + h > maxDepth) return kTooDeep;
                f.height = std::max(f.height, h + 1);
                continue;
            }
            if (auto refused = push(path, child)) return refused;
            if (path.size() > maxDepth) return kTooDeep;
        }
        return std::nullopt;
    }

    // Opens a container on the path, after checking a dictionary's keys; anything else is a
    // leaf of height 0.
    std::optional<std::string> push(std::vector<Frame>& path, uint64_t object) {
        const std::optional<Header> h = header(object);
        // The parser keeps the low 64 bits of a 16-byte integer, which read as int64 give its
        // value only when the high half is all sign bits.
        if (h && h->kind == 0x1 && h->count == 4 && !holdsInt64(h->body))
            return "Integer out of range";
        // 0xA array, 0xB ordered set, 0xC set, 0xD dictionary (keys, then values).
        if (!h || h->kind < 0xA || h->kind > 0xD) {
            height_[object] = 0;
            return std::nullopt;
        }
        uint64_t total = h->count;
        if (h->kind == 0xD) {
            if (total > (size_ - h->body) / refSize_ / 2) {
                height_[object] = 0;  // malformed; the parser refuses it
                return std::nullopt;
            }
            for (uint64_t k = 0; k < total; ++k) {
                if (!isUsableKey(reference(h->body + k * refSize_)))
                    return "Property list dictionary key is not a string";
            }
            total *= 2;
        }
        if (total > (size_ - h->body) / refSize_) {
            height_[object] = 0;  // malformed; the parser refuses it
            return std::nullopt;
        }
        height_[object] = kOnPath;
        path.push_back({object, 0, total, h->body, 1});
        return std::nullopt;
    }

    static constexpr const char* kTooDeep = "Too many nested arrays or dictionaries";

    const uint8_t* data_;
    size_t size_;
    size_t offsetSize_ = 0, refSize_ = 0;
    uint64_t count_ = 0, tableOffset_ = 0;
    std::vector<uint32_t> height_;
};

}  // namespace

Result<Value> PropertyListSerialization::read(const Data& data, Format* format) {
    const std::string_view text = data.chars();
    if (text.empty()) return readError("Cannot parse a NULL or zero-length data");
    const bool binary = text.starts_with(PropertyListBinary::kMagic);
    Result<Value> value =
        binary ? PropertyListBinary::read(text, kMaxDepth) : PropertyListXML::read(text, kMaxDepth);
    if (value && format) *format = binary ? Format::Binary : Format::XML;
    return value;
}

std::optional<std::string> PropertyListSerialization::binaryRefusal(const Data& data) {
    return BinaryPrecheck(data.bytes(), data.length()).problem(kMaxDepth);
}

Result<Data> PropertyListSerialization::write(const Value& value, Format format) {
    return format == Format::Binary ? PropertyListBinary::write(value, kMaxDepth)
                                    : PropertyListXML::write(value, kMaxDepth);
}

Result<Value> PropertyListSerialization::readFile(const std::string& path, Format* format) {
    Result<Data> data = ns::readFile(path);
    if (!data) return data.error();
    return read(*data, format);
}

Status PropertyListSerialization::writeFileAtomically(const std::string& path, const Value& value,
                                                      Format format, mode_t mode) {
    Result<Data> data = write(value, format);
    if (!data) return data.error();
    return ns::writeFileAtomically(path, *data, mode);
}

}  // namespace ns
