#include "platform/ns/PropertyListBinary.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ns/Error.h"
#include "platform/ns/UTF16.h"
#include "platform/ns/UTF8.h"

namespace ns {

namespace {

constexpr const char* kUidKey = "CF$UID";
constexpr const char* kTooDeep = "Too many nested arrays or dictionaries";

using namespace bplist;

}  // namespace

std::optional<bplist::Trailer> bplist::Trailer::of(std::string_view file) {
    if (file.size() < kMagicSize + 1 + kTrailerSize) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data()) + file.size() - kTrailerSize;
    Trailer t;
    t.offsetSize = bytes[6];
    t.refSize = bytes[7];
    t.count = bigEndian(bytes + 8, 8);
    t.top = bigEndian(bytes + 16, 8);
    t.table = bigEndian(bytes + 24, 8);
    const uint64_t tableRoom = file.size() - kTrailerSize;
    if (t.offsetSize < 1 || t.offsetSize > 8 || t.refSize < 1 || t.refSize > 8 || t.count == 0 ||
        t.top >= t.count || t.table <= kMagicSize || t.table > tableRoom ||
        t.count > (tableRoom - t.table) / t.offsetSize ||
        (t.refSize < 8 && t.count - 1 > (uint64_t{1} << (8 * t.refSize)) - 1))
        return std::nullopt;
    return t;
}

namespace {

// Bytes needed for an unsigned value: 1, 2, 4 or 8.
uint8_t widthFor(uint64_t v) {
    if (v <= 0xFF) return 1;
    if (v <= 0xFFFF) return 2;
    if (v <= 0xFFFFFFFF) return 4;
    return 8;
}

void appendBigEndian(std::string& out, uint64_t v, size_t n) {
    for (size_t i = n; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// ---------------------------------------------------------------------------------------------

struct Malformed {
    std::string reason;
};

// What reading may build, in bytes of values, keys, strings and data: a file may refer to one
// object as often as it likes, to save room, and each reference builds a copy. Bounding the
// copies by the file's size keeps a small file of references from building without end. Each
// reference takes at least a byte of the file, so a file whose shared leaves are small fits
// (as the writer's do: it writes a longer leaf again where it recurs).
constexpr uint64_t kBuiltPerFileByte = 256;
constexpr uint64_t kBuiltAtLeast = uint64_t{16} << 20;
constexpr size_t kLargestSharedLeaf = 64;  // bytes of its encoding
// A reference builds a value or a key, and at most the leaf, whose UTF-16 text grows by half.
static_assert(std::max(sizeof(Value), sizeof(std::string)) + 3 * kLargestSharedLeaf / 2 <=
              kBuiltPerFileByte);

class Reader {
public:
    Reader(std::string_view in, size_t maxDepth)
        : p_(reinterpret_cast<const uint8_t*>(in.data())),
          size_(in.size()),
          maxDepth_(maxDepth),
          buildable_(kBuiltAtLeast + kBuiltPerFileByte * in.size()) {}

    Value read() {
        if (size_ < PropertyListBinary::kMagic.size() + 1 + kTrailerSize)
            throw Malformed{"Binary property list too short"};
        const std::optional<Trailer> trailer =
            Trailer::of(std::string_view(reinterpret_cast<const char*>(p_), size_));
        if (!trailer) throw Malformed{"Malformed binary property list trailer"};
        trailer_ = *trailer;
        onPath_.assign(trailer_.count, false);
        return object(trailer_.top, 0);
    }

private:
    // Where an object starts, checked to lie among the objects.
    uint64_t offsetOf(uint64_t index) const {
        const std::optional<uint64_t> at = trailer_.offsetOf(p_, index);
        if (!at) throw Malformed{"Object offset outside the objects"};
        return *at;
    }

    // `n` bytes at `at`, which must end before the offset table.
    const uint8_t* bytes(uint64_t at, uint64_t n) const {
        if (at > trailer_.table || n > trailer_.table - at)
            throw Malformed{"Object runs past the objects"};
        return p_ + at;
    }

    // The element count of the object whose marker is at `at`, and where its body starts.
    std::pair<uint64_t, uint64_t> counted(uint64_t at) const {
        const uint8_t info = p_[at] & 0x0F;
        if (info != kCountFollows) return {info, at + 1};
        const uint8_t marker = *bytes(at + 1, 1);
        if ((marker >> 4) != kInteger || (marker & 0x0F) > 3)
            throw Malformed{"Malformed object count"};
        const uint64_t width = uint64_t{1} << (marker & 0x0F);
        return {bigEndian(bytes(at + 2, width), width), at + 2 + width};
    }

    // Takes what is about to be built off what may be.
    void build(uint64_t bytes) {
        if (bytes > buildable_) throw Malformed{"References expand beyond the file"};
        buildable_ -= bytes;
    }

    Value object(uint64_t index, size_t depth) {
        build(sizeof(Value));
        const uint64_t at = offsetOf(index);
        const uint8_t marker = p_[at];
        const uint8_t info = marker & 0x0F;
        switch (marker >> 4) {
            case kSimple:
                if (marker == kFalse || marker == kTrue) return Value(marker == kTrue);
                throw Malformed{"Unsupported value in property list"};
            case kInteger:
                return integer(at, info);
            case kReal:
                if (info == 2) {
                    return Value(static_cast<double>(std::bit_cast<float>(
                        static_cast<uint32_t>(bigEndian(bytes(at + 1, 4), 4)))));
                }
                if (info == 3) return Value(std::bit_cast<double>(bigEndian(bytes(at + 1, 8), 8)));
                throw Malformed{"Unsupported real size"};
            case kDate:
                if (info != 3) throw Malformed{"Unsupported date size"};
                return Value(Date::fromTimeIntervalSinceReferenceDate(
                    std::bit_cast<double>(bigEndian(bytes(at + 1, 8), 8))));
            case kData: {
                const auto [n, body] = counted(at);
                const uint8_t* data = bytes(body, n);
                build(n);
                return Value(Data(data, n));
            }
            case kASCII:
            case kUTF16:
                return Value(text(at));
            case kUID:
                return uid(at, info + 1u);
            case kArray:
            case kOrderedSet:
            case kSet:
                return enter(index, depth, [&] { return array(at, depth); });
            case kDictionary:
                return enter(index, depth, [&] { return dictionary(at, depth); });
            default:
                throw Malformed{"Unsupported value in property list"};
        }
    }

    Value integer(uint64_t at, uint8_t info) const {
        if (info <= 2)
            return Value(static_cast<long long>(bigEndian(bytes(at + 1, 1u << info), 1u << info)));
        if (info == 3) return Value(static_cast<long long>(bigEndian(bytes(at + 1, 8), 8)));
        if (info != 4) throw Malformed{"Unsupported integer size"};
        // Two's complement over 128 bits: the high half is all sign bits for every value that
        // int64 or uint64 can hold.
        const uint8_t* p = bytes(at + 1, 16);
        const uint64_t high = bigEndian(p, 8);
        const uint64_t low = bigEndian(p + 8, 8);
        if (high == 0) return Value(static_cast<unsigned long long>(low));
        if (high == std::numeric_limits<uint64_t>::max() && (low >> 63) != 0)
            return Value(static_cast<long long>(low));
        throw Malformed{"Integer out of range"};
    }

    Value uid(uint64_t at, size_t width) const {
        const uint8_t* p = bytes(at + 1, width);
        for (size_t i = 0; i + 8 < width; ++i) {
            if (p[i] != 0) throw Malformed{"UID out of range"};
        }
        const size_t low = std::min<size_t>(width, 8);
        return Value::dict(
            {{kUidKey, Value(static_cast<unsigned long long>(bigEndian(p + width - low, low)))}});
    }

    // A string's text; UTF-16 takes at most one and a half times its bytes in UTF-8.
    std::string text(uint64_t at) {
        const auto [n, body] = counted(at);
        if ((p_[at] >> 4) == kASCII) {
            std::string_view s(reinterpret_cast<const char*>(bytes(body, n)), n);
            build(n);
            if (utf8::isValid(s)) return std::string(s);
            build(2 * n);  // a U+FFFD for a byte, at worst
            return utf8::repaired(s);
        }
        if (n > std::numeric_limits<uint64_t>::max() / 2) throw Malformed{"String too long"};
        const uint8_t* p = bytes(body, 2 * n);
        build(3 * n);
        std::u16string units(n, u'\0');
        for (uint64_t i = 0; i < n; ++i)
            units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
        return fromUTF16(units);
    }

    template <typename Build>
    Value enter(uint64_t index, size_t depth, Build build) {
        if (depth + 1 > maxDepth_) throw Malformed{kTooDeep};
        if (onPath_[index]) throw Malformed{"Property list object contains itself"};
        onPath_[index] = true;
        Value v = build();
        onPath_[index] = false;
        return v;
    }

    std::vector<uint64_t> references(uint64_t body, uint64_t n) const {
        if (n > (trailer_.table - std::min(body, trailer_.table)) / trailer_.refSize)
            throw Malformed{"Object runs past the objects"};
        const uint8_t* p = bytes(body, n * trailer_.refSize);
        std::vector<uint64_t> refs(n);
        for (uint64_t i = 0; i < n; ++i) {
            refs[i] = bigEndian(p + i * trailer_.refSize, trailer_.refSize);
            if (refs[i] >= trailer_.count) throw Malformed{"Reference outside the objects"};
        }
        return refs;
    }

    Value array(uint64_t at, size_t depth) {
        const auto [n, body] = counted(at);
        Array items;
        const std::vector<uint64_t> refs = references(body, n);
        items.reserve(refs.size());
        for (uint64_t ref : refs) items.push_back(object(ref, depth + 1));
        return Value(std::move(items));
    }

    Value dictionary(uint64_t at, size_t depth) {
        const auto [n, body] = counted(at);
        if (n > std::numeric_limits<uint64_t>::max() / 2)
            throw Malformed{"Object runs past the objects"};
        const std::vector<uint64_t> refs = references(body, 2 * n);
        Dictionary members;
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t keyAt = offsetOf(refs[i]);
            const uint8_t kind = p_[keyAt] >> 4;
            if (kind != kASCII && kind != kUTF16)
                throw Malformed{"Property list dictionary key is not a string"};
            build(sizeof(std::string));
            std::string key = text(keyAt);
            members.appendUnsorted(std::move(key), object(refs[n + i], depth + 1));
        }
        members.finishAppending();
        return Value(std::move(members));
    }

    const uint8_t* p_;
    uint64_t size_;
    size_t maxDepth_;
    uint64_t buildable_;
    Trailer trailer_;
    std::vector<bool> onPath_;
};

// ---------------------------------------------------------------------------------------------

struct Invalid {
    std::string reason;
};

class Writer {
public:
    explicit Writer(size_t maxDepth) : maxDepth_(maxDepth) {}

    std::string write(const Value& root) {
        add(root, 0);
        const uint64_t count = objects_.size();
        refSize_ = widthFor(count);
        std::string out(PropertyListBinary::kMagic);
        std::vector<uint64_t> offsets;
        offsets.reserve(count);
        for (const Object& o : objects_) {
            offsets.push_back(out.size());
            if (o.isContainer) {
                appendMarker(out, o.marker, o.count);
                for (uint64_t ref : o.refs) appendBigEndian(out, ref, refSize_);
            } else {
                out += o.leaf;
            }
        }
        const uint64_t table = out.size();
        const uint8_t offsetSize = widthFor(offsets.empty() ? 0 : offsets.back());
        for (uint64_t o : offsets) appendBigEndian(out, o, offsetSize);
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize_);
        appendBigEndian(out, count, 8);
        appendBigEndian(out, 0, 8);  // the top object is the first one
        appendBigEndian(out, table, 8);
        return out;
    }

private:
    struct Object {
        bool isContainer = false;
        uint8_t marker = 0;
        uint64_t count = 0;
        std::vector<uint64_t> refs;
        std::string leaf;  // the whole encoded object
    };

    static void appendMarker(std::string& out, uint8_t kind, uint64_t count) {
        if (count < kCountFollows) {
            out += static_cast<char>(kind << 4 | count);
            return;
        }
        out += static_cast<char>(kind << 4 | kCountFollows);
        const uint8_t width = widthFor(count);
        out += static_cast<char>(kInteger << 4 | std::countr_zero(width));
        appendBigEndian(out, count, width);
    }

    static std::string encodeInteger(int64_t i) {
        std::string out;
        // Negative values take the signed 8-byte form; others the smallest unsigned one.
        const uint8_t width = i < 0 ? 8 : widthFor(static_cast<uint64_t>(i));
        out += static_cast<char>(kInteger << 4 | std::countr_zero(width));
        appendBigEndian(out, static_cast<uint64_t>(i), width);
        return out;
    }

    static std::string encodeText(const std::string& s) {
        const std::string text = utf8::isValid(s) ? s : utf8::repaired(s);
        std::string out;
        const bool ascii = std::all_of(text.begin(), text.end(),
                                       [](char c) { return static_cast<uint8_t>(c) < 0x80; });
        if (ascii) {
            appendMarker(out, kASCII, text.size());
            out += text;
            return out;
        }
        const std::u16string units = toUTF16(text);
        appendMarker(out, kUTF16, units.size());
        for (char16_t u : units) appendBigEndian(out, u, 2);
        return out;
    }

    static std::string encodeLeaf(const Value& v) {
        std::string out;
        switch (v.type()) {
            case Value::Type::Bool:
                out += static_cast<char>(*v.boolean() ? kTrue : kFalse);
                break;
            case Value::Type::Integer:
                out = encodeInteger(*v.int64());
                break;
            case Value::Type::Unsigned:
                out += static_cast<char>(kInteger << 4 | 4);
                appendBigEndian(out, 0, 8);
                appendBigEndian(out, *v.uint64(), 8);
                break;
            case Value::Type::Double:
                out += static_cast<char>(kReal << 4 | 3);
                appendBigEndian(out, std::bit_cast<uint64_t>(*v.number()), 8);
                break;
            case Value::Type::Date:
                out += static_cast<char>(kDate << 4 | 3);
                appendBigEndian(
                    out, std::bit_cast<uint64_t>(v.date()->timeIntervalSinceReferenceDate()), 8);
                break;
            case Value::Type::String:
                out = encodeText(*v.string());
                break;
            case Value::Type::Data:
                appendMarker(out, kData, v.data()->length());
                out.append(v.data()->chars());
                break;
            default:
                throw Invalid{
                    "Property list invalid for format (property lists cannot contain null)"};
        }
        return out;
    }

    // A leaf written once for every place it recurs, when it is small enough that its copies
    // stay within what the reader builds for a reference.
    uint64_t addLeaf(std::string encoded) {
        if (encoded.size() > kLargestSharedLeaf) {
            Object o;
            o.leaf = std::move(encoded);
            objects_.push_back(std::move(o));
            return objects_.size() - 1;
        }
        auto [it, added] = leaves_.try_emplace(std::move(encoded), objects_.size());
        if (added) {
            Object o;
            o.leaf = it->first;
            objects_.push_back(std::move(o));
        }
        return it->second;
    }

    // The UID that a dictionary {"CF$UID": n} stands for, n a non-negative integer: what a
    // UID reads as, written back as the UID it was.
    static std::optional<uint64_t> uidOf(const Value& v) {
        const Dictionary* members = v.dictionary();
        if (!members || members->size() != 1 || members->begin()->first != kUidKey ||
            !members->begin()->second.isInteger())
            return std::nullopt;
        return members->begin()->second.uint64();
    }

    static std::string encodeUid(uint64_t uid) {
        const uint8_t width = widthFor(uid);
        std::string out(1, static_cast<char>(kUID << 4 | (width - 1)));
        appendBigEndian(out, uid, width);
        return out;
    }

    uint64_t add(const Value& v, size_t depth) {
        if (const std::optional<uint64_t> uid = uidOf(v)) return addLeaf(encodeUid(*uid));
        const bool isArray = v.type() == Value::Type::Array;
        if (!isArray && v.type() != Value::Type::Dictionary) return addLeaf(encodeLeaf(v));
        if (depth + 1 > maxDepth_) throw Invalid{kTooDeep};
        const uint64_t index = objects_.size();
        objects_.emplace_back();
        std::vector<uint64_t> refs;
        refs.reserve(isArray ? v.count() : 2 * v.count());
        if (isArray) {
            for (const Value& item : *v.array()) refs.push_back(add(item, depth + 1));
        } else {
            for (const auto& [key, item] : *v.dictionary())
                refs.push_back(addLeaf(encodeText(key)));
            for (const auto& [key, item] : *v.dictionary()) refs.push_back(add(item, depth + 1));
        }
        Object& o = objects_[index];
        o.isContainer = true;
        o.marker = isArray ? kArray : kDictionary;
        o.count = v.count();
        o.refs = std::move(refs);
        return index;
    }

    size_t maxDepth_;
    uint8_t refSize_ = 1;
    std::vector<Object> objects_;
    std::unordered_map<std::string, uint64_t> leaves_;
};

}  // namespace

Result<Value> PropertyListBinary::read(std::string_view bytes, size_t maxDepth) {
    if (!bytes.starts_with(kMagic))
        return cocoaError(kPropertyListReadCorruptError, "Not a binary property list");
    try {
        return Reader(bytes, maxDepth).read();
    } catch (const Malformed& m) {
        return cocoaError(kPropertyListReadCorruptError, m.reason);
    }
}

Result<Data> PropertyListBinary::write(const Value& value, size_t maxDepth) {
    try {
        return Data::fromString(Writer(maxDepth).write(value));
    } catch (const Invalid& i) {
        return cocoaError(kPropertyListWriteInvalidError, i.reason);
    }
}

}  // namespace ns
