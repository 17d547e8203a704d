#include "signin/DSKeyedUnarchiver.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/ns/Format.h"
#include "platform/ns/PropertyListBinary.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/UTF16.h"
#include "platform/ns/UTF8.h"

// Archives are read straight from the bytes of their binary property list: every token look-up
// that misses the decoded-item memory passes here, and a tree of parsed nodes in between cost
// as much as the decoding itself. The whole file is checked first, as a parser of it would,
// so that a fault anywhere refuses the archive, not only one on the objects the root reaches.

namespace {

// The platform's code for an archive that cannot be decoded.
constexpr int64_t kCoderReadCorruptError = 4864;
constexpr std::string_view kBinaryMagic = ns::PropertyListBinary::kMagic;

ns::Error corrupt(std::string reason) {
    return ns::cocoaError(kCoderReadCorruptError, std::move(reason));
}

// Thrown inside the reader only, caught at its entry.
struct Refusal {
    std::string reason;
};
constexpr const char* kNotAPropertyList = "Archive is not a property list";
constexpr const char* kNotAnArchive = "Not a keyed archive";

using namespace ns::bplist;

// One object of the file: its kind, the marker's low nibble, its element count (bytes, units
// or references) and where its body starts.
struct Object {
    uint8_t kind = 0;
    uint8_t info = 0;
    uint64_t count = 0;
    const uint8_t* body = nullptr;

    bool isText() const { return kind == kASCII || kind == kUTF16; }
    // Sets read as arrays.
    bool isArray() const { return kind == kArray || kind == kSet; }
    bool isContainer() const { return isArray() || kind == kDictionary; }
};

// The binary property list: trailer, offset table and objects, each checked before use.
class PlistBytes {
public:
    explicit PlistBytes(std::string_view in)
        : p_(reinterpret_cast<const uint8_t*>(in.data())), trailer_(trailerOf(in)) {}

    uint64_t count() const { return trailer_.count; }
    uint64_t top() const { return trailer_.top; }

    Object object(uint64_t index) const {
        if (index >= trailer_.count) throw Refusal{kNotAPropertyList};
        const std::optional<uint64_t> offset = trailer_.offsetOf(p_, index);
        if (!offset) throw Refusal{kNotAPropertyList};
        const uint64_t at = *offset;
        Object o{static_cast<uint8_t>(p_[at] >> 4), static_cast<uint8_t>(p_[at] & 0x0F), 0,
                 p_ + at + 1};
        const bool counted = o.kind == kData || o.isText() || o.kind >= kArray;
        if (!counted) return o;
        o.count = o.info;
        if (o.info == kCountFollows) {
            const uint8_t marker = *within(o.body, 1);
            if ((marker >> 4) != kInteger || (marker & 0x0F) > 3) throw Refusal{kNotAPropertyList};
            const size_t width = size_t{1} << (marker & 0x0F);
            o.count = bigEndian(within(o.body + 1, width), width);
            o.body += 1 + width;
        }
        return o;
    }

    // The `i`th reference of an array, or of a dictionary's keys then values.
    uint64_t reference(const Object& o, uint64_t i) const {
        return bigEndian(o.body + i * trailer_.refSize, trailer_.refSize);
    }

    // Bytes of the object's body: its count in bytes, units or references.
    const uint8_t* body(const Object& o) const {
        uint64_t unit = 1;
        uint64_t n = o.count;
        if (o.kind == kUTF16) unit = 2;
        if (o.kind >= kArray) unit = trailer_.refSize;
        if (o.kind == kDictionary) {
            if (n > std::numeric_limits<uint64_t>::max() / 2) throw Refusal{kNotAPropertyList};
            n *= 2;
        }
        if (n > trailer_.table / unit) throw Refusal{kNotAPropertyList};
        return within(o.body, n * unit);
    }

    // A fixed-size body: integers, reals, dates, UIDs.
    const uint8_t* fixed(const Object& o, size_t n) const { return within(o.body, n); }

private:
    const uint8_t* within(const uint8_t* at, uint64_t n) const {
        const uint64_t offset = static_cast<uint64_t>(at - p_);
        if (offset > trailer_.table || n > trailer_.table - offset)
            throw Refusal{kNotAPropertyList};
        return at;
    }

    static Trailer trailerOf(std::string_view in) {
        const std::optional<Trailer> trailer = Trailer::of(in);
        if (!trailer) throw Refusal{kNotAPropertyList};
        return *trailer;
    }

    const uint8_t* p_;
    Trailer trailer_;
};

std::optional<uint64_t> uidOf(const PlistBytes& plist, const Object& o) {
    if (o.kind != kUID) return std::nullopt;
    const size_t width = std::min<size_t>(o.info + 1u, 8);
    return bigEndian(plist.fixed(o, o.info + 1u) + (o.info + 1u - width), width);
}

// Checks every object the top one reaches, once each: known kinds of known sizes, bodies
// inside the objects, references inside the table, dictionary keys that are strings without
// NUL, integers that int64 holds, no object inside itself and no deeper nesting than property
// lists allow.
class Validator {
public:
    explicit Validator(const PlistBytes& plist)
        : plist_(plist), height_(plist.count(), kUnvisited) {}

    void run() { visit(plist_.top(), 0); }

private:
    static constexpr uint32_t kUnvisited = std::numeric_limits<uint32_t>::max();
    static constexpr uint32_t kOnPath = kUnvisited - 1;

    // The number of containers from this object down to its deepest leaf.
    uint32_t visit(uint64_t index, size_t depth) {
        if (index >= plist_.count()) throw Refusal{kNotAPropertyList};
        const uint32_t known = height_[index];
        if (known == kOnPath) throw Refusal{"Property list object contains itself"};
        if (known != kUnvisited) {
            if (depth + known > ns::PropertyListSerialization::kMaxDepth)
                throw Refusal{"Too many nested arrays or dictionaries"};
            return known;
        }
        const Object o = plist_.object(index);
        if (!o.isContainer()) {
            leaf(o);
            return height_[index] = 0;
        }
        if (depth + 1 > ns::PropertyListSerialization::kMaxDepth)
            throw Refusal{"Too many nested arrays or dictionaries"};
        plist_.body(o);
        height_[index] = kOnPath;
        uint32_t height = 0;
        const uint64_t members = o.kind == kDictionary ? 2 * o.count : o.count;
        for (uint64_t i = 0; i < members; ++i) {
            const uint64_t child = plist_.reference(o, i);
            if (o.kind == kDictionary && i < o.count) key(child);
            height = std::max(height, visit(child, depth + 1));
        }
        return height_[index] = height + 1;
    }

    void key(uint64_t index) const {
        if (index >= plist_.count()) throw Refusal{kNotAPropertyList};
        const Object k = plist_.object(index);
        if (!k.isText()) throw Refusal{"Property list dictionary key is not a string"};
        const uint8_t* p = plist_.body(k);
        const uint64_t unit = k.kind == kUTF16 ? 2 : 1;
        for (uint64_t i = 0; i < k.count; ++i) {
            if (p[i * unit] == 0 && (unit == 1 || p[i * unit + 1] == 0))
                throw Refusal{"Property list dictionary key is not a string"};
        }
    }

    void leaf(const Object& o) const {
        switch (o.kind) {
            case kSimple:
                if (o.info == (kFalse & 0x0F) || o.info == (kTrue & 0x0F)) return;
                break;
            case kInteger:
                if (o.info <= 3) {
                    plist_.fixed(o, size_t{1} << o.info);
                    return;
                }
                if (o.info == 4) {
                    // Two's complement over 128 bits: the high half must be all sign bits.
                    const uint8_t* p = plist_.fixed(o, 16);
                    const bool negative = (p[8] & 0x80) != 0;
                    if (bigEndian(p, 8) != (negative ? ~uint64_t{0} : 0))
                        throw Refusal{"Integer out of range"};
                    return;
                }
                break;
            case kReal:
                if (o.info == 2 || o.info == 3) {
                    plist_.fixed(o, size_t{1} << o.info);
                    return;
                }
                break;
            case kDate:
                if (o.info == 3) {
                    plist_.fixed(o, 8);
                    return;
                }
                break;
            case kUTF16:
                // Empty text is written in the one-byte form; the two-byte form is never empty.
                if (o.count == 0) break;
                plist_.body(o);
                return;
            case kData:
            case kASCII:
                plist_.body(o);
                return;
            case kUID:
                // Up to 16 bytes, of which the low eight hold a value within 32 bits.
                if (*uidOf(plist_, o) <= std::numeric_limits<uint32_t>::max()) return;
                break;
            default:
                break;
        }
        throw Refusal{kNotAPropertyList};
    }

    const PlistBytes& plist_;
    std::vector<uint32_t> height_;
};

// Text of a string object; bytes that are not UTF-8 are repaired, as every other reader of
// property lists does.
std::string textOf(const PlistBytes& plist, const Object& o) {
    const uint8_t* p = plist.body(o);
    if (o.kind == kASCII) {
        std::string_view view(reinterpret_cast<const char*>(p), o.count);
        if (!ns::utf8::isValid(view)) return ns::utf8::repaired(view);
        return std::string(view);
    }
    std::u16string units(o.count, u'\0');
    for (uint64_t i = 0; i < o.count; ++i)
        units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    return ns::fromUTF16(units);
}

// Whether a string object holds exactly `expected`, without building its text.
bool textIs(const PlistBytes& plist, const Object& o, std::string_view expected) {
    if (!o.isText() || o.count != expected.size()) return false;
    const uint8_t* p = plist.body(o);
    if (o.kind == kASCII)
        return std::string_view(reinterpret_cast<const char*>(p), o.count) == expected;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (p[2 * i] != 0 || p[2 * i + 1] != static_cast<uint8_t>(expected[i])) return false;
    }
    return true;
}

int64_t integerOf(const PlistBytes& plist, const Object& o) {
    // The 16-byte form holds an int64 (checked), its low half.
    if (o.info == 4) return static_cast<int64_t>(bigEndian(plist.fixed(o, 16) + 8, 8));
    const size_t width = size_t{1} << o.info;
    return static_cast<int64_t>(bigEndian(plist.fixed(o, width), width));
}

double realOf(const PlistBytes& plist, const Object& o) {
    if (o.info == 2)
        return std::bit_cast<float>(static_cast<uint32_t>(bigEndian(plist.fixed(o, 4), 4)));
    return std::bit_cast<double>(bigEndian(plist.fixed(o, 8), 8));
}

std::optional<double> numberOf(const PlistBytes& plist, const Object& o) {
    if (o.kind == kReal) return realOf(plist, o);
    if (o.kind == kInteger) return static_cast<double>(integerOf(plist, o));
    return std::nullopt;
}

// The value of a dictionary object under a key, when it has that key.
std::optional<Object> memberOf(const PlistBytes& plist, const Object& dict, std::string_view key) {
    if (dict.kind != kDictionary) return std::nullopt;
    plist.body(dict);
    for (uint64_t i = 0; i < dict.count; ++i) {
        if (textIs(plist, plist.object(plist.reference(dict, i)), key))
            return plist.object(plist.reference(dict, dict.count + i));
    }
    return std::nullopt;
}

class Reader {
public:
    Reader(const PlistBytes& plist, const Object& objects, const std::set<std::string>& allowed)
        : plist_(plist),
          objects_(objects),
          allowed_(allowed),
          state_(objects.count, kUnvisited),
          maxProduced_(4 * objects.count + 1024) {}

    DSArchiveValue decode(uint64_t uid, size_t depth) {
        if (uid >= objects_.count) throw Refusal{"Reference outside the archive's objects"};
        if (uid == 0) return DSArchiveValue();
        if (depth > DSKeyedUnarchiver::kMaxDepth) throw Refusal{"Archive nested too deeply"};
        if (state_[uid] == kOnPath) throw Refusal{"Archived object contains itself"};
        // Shared references could otherwise expand a small archive into a huge graph: what is
        // decoded stays proportional to what was read.
        if (++produced_ > maxProduced_) throw Refusal{"Archive holds too many objects"};
        state_[uid] = kOnPath;
        const Object object = plist_.object(plist_.reference(objects_, uid));
        DSArchiveValue value =
            object.kind == kDictionary ? decodeInstance(object, depth) : scalar(object);
        state_[uid] = kUnvisited;
        return value;
    }

private:
    static constexpr uint8_t kUnvisited = 0;
    static constexpr uint8_t kOnPath = 1;

    DSArchiveValue scalar(const Object& o) const {
        switch (o.kind) {
            case kSimple:
                if (o.info == (kFalse & 0x0F) || o.info == (kTrue & 0x0F))
                    return DSArchiveValue::boolean(o.info == (kTrue & 0x0F));
                break;
            case kInteger:
                return DSArchiveValue::integer(integerOf(plist_, o));
            case kReal:
                return DSArchiveValue::real(realOf(plist_, o));
            case kASCII:
            case kUTF16:
                return DSArchiveValue::text(textOf(plist_, o));
            case kData:
                return DSArchiveValue::data(ns::Data(plist_.body(o), o.count));
            case kDate:
                return DSArchiveValue::date(ns::Date::fromTimeIntervalSinceReferenceDate(
                    std::bit_cast<double>(bigEndian(plist_.fixed(o, 8), 8))));
            default:
                break;
        }
        throw Refusal{"Unexpected value in archive"};
    }

    std::string className(const Object& object) const {
        const std::optional<Object> field = memberOf(plist_, object, "$class");
        const std::optional<uint64_t> uid = field ? uidOf(plist_, *field) : std::nullopt;
        if (!uid || *uid == 0 || *uid >= objects_.count)
            throw Refusal{"Archived object without a class"};
        const Object classObject = plist_.object(plist_.reference(objects_, *uid));
        const std::optional<Object> name = memberOf(plist_, classObject, "$classname");
        if (!name || !name->isText()) throw Refusal{"Archived class without a name"};
        std::string text = textOf(plist_, *name);
        if (!allowed_.contains(text))
            throw Refusal{ns::format("Class '%@' is not allowed here", text)};
        return text;
    }

    // The members of an array of references under `key`.
    std::vector<DSArchiveValue> references(const Object& object, const char* key, size_t depth) {
        const std::optional<Object> list = memberOf(plist_, object, key);
        if (!list || !list->isArray()) throw Refusal{ns::format("Missing %s", key)};
        plist_.body(*list);
        std::vector<DSArchiveValue> items;
        items.reserve(list->count);
        for (uint64_t i = 0; i < list->count; ++i) {
            const std::optional<uint64_t> uid =
                uidOf(plist_, plist_.object(plist_.reference(*list, i)));
            if (!uid) throw Refusal{"Container member is not a reference"};
            items.push_back(decode(*uid, depth + 1));
        }
        return items;
    }

    DSArchiveValue decodeInstance(const Object& object, size_t depth) {
        std::string cls = className(object);
        if (cls == "NSDictionary" || cls == "NSMutableDictionary") {
            std::vector<DSArchiveValue> keys = references(object, "NS.keys", depth);
            std::vector<DSArchiveValue> values = references(object, "NS.objects", depth);
            if (keys.size() != values.size()) throw Refusal{"Dictionary keys and objects differ"};
            DSArchiveValue::Pairs pairs;
            pairs.reserve(keys.size());
            for (size_t i = 0; i < keys.size(); ++i)
                pairs.emplace_back(std::move(keys[i]), std::move(values[i]));
            return DSArchiveValue::dictionary(std::move(pairs), cls == "NSMutableDictionary");
        }
        if (cls == "NSArray" || cls == "NSMutableArray")
            return DSArchiveValue::array(references(object, "NS.objects", depth),
                                         cls == "NSMutableArray");
        if (cls == "NSDate") {
            const std::optional<Object> time = memberOf(plist_, object, "NS.time");
            const std::optional<double> seconds = time ? numberOf(plist_, *time) : std::nullopt;
            if (!seconds) throw Refusal{"Date without time"};
            return DSArchiveValue::date(ns::Date::fromTimeIntervalSinceReferenceDate(*seconds));
        }
        if (cls == "NSNull") return DSArchiveValue::null();
        if (cls == "NSString" || cls == "NSMutableString") {
            const std::optional<Object> text = memberOf(plist_, object, "NS.string");
            if (!text || !text->isText()) throw Refusal{"String without text"};
            return DSArchiveValue::text(textOf(plist_, *text));
        }
        if (cls == "NSData" || cls == "NSMutableData") {
            const std::optional<Object> bytes = memberOf(plist_, object, "NS.data");
            if (!bytes || bytes->kind != kData) throw Refusal{"Data without bytes"};
            return scalar(*bytes);
        }
        auto instance = std::make_shared<DSArchiveObject>(std::move(cls));
        plist_.body(object);
        for (uint64_t i = 0; i < object.count; ++i) {
            const Object key = plist_.object(plist_.reference(object, i));
            if (textIs(plist_, key, "$class")) continue;
            const Object field = plist_.object(plist_.reference(object, object.count + i));
            const std::optional<uint64_t> uid = uidOf(plist_, field);
            DSArchiveValue value = uid ? decode(*uid, depth + 1) : scalar(field);
            instance->set(fieldName(key), std::move(value));
        }
        return DSArchiveValue::object(std::move(instance));
    }

    // A field's name as written; a key of the one-byte form is taken byte for byte.
    std::string fieldName(const Object& key) const {
        if (key.kind == kASCII)
            return std::string(reinterpret_cast<const char*>(plist_.body(key)), key.count);
        return textOf(plist_, key);
    }

    const PlistBytes& plist_;
    const Object objects_;
    const std::set<std::string>& allowed_;
    std::vector<uint8_t> state_;
    size_t produced_ = 0;
    size_t maxProduced_;
};

DSArchiveValue unarchiveChecked(const ns::Data& data, const std::set<std::string>& allowed) {
    const PlistBytes plist(data.chars());
    Validator(plist).run();
    const Object top = plist.object(plist.top());
    if (top.kind != kDictionary) throw Refusal{kNotAnArchive};
    const std::optional<Object> archiver = memberOf(plist, top, "$archiver");
    const std::optional<Object> version = memberOf(plist, top, "$version");
    const std::optional<Object> objects = memberOf(plist, top, "$objects");
    const std::optional<Object> roots = memberOf(plist, top, "$top");
    if (!archiver || !textIs(plist, *archiver, "NSKeyedArchiver") || !version ||
        numberOf(plist, *version) != 100000 || !objects || !objects->isArray() || !roots ||
        roots->kind != kDictionary)
        throw Refusal{kNotAnArchive};
    if (objects->count > DSKeyedUnarchiver::kMaxObjects)
        throw Refusal{"Archive holds too many objects"};
    const std::optional<Object> root = memberOf(plist, *roots, "root");
    const std::optional<uint64_t> rootUid = root ? uidOf(plist, *root) : std::nullopt;
    if (!rootUid) throw Refusal{"Archive without root object"};
    plist.body(*objects);
    return Reader(plist, *objects, allowed).decode(*rootUid, 0);
}

}  // namespace

// Never destroyed: the caches decode on worker queues, which may still be at work while the
// program exits and its static objects are destroyed. Other tables read off the main thread
// are kept the same way.
const std::set<std::string>& DSKeyedUnarchiver::foundationClasses() {
    static const auto& classes = *new std::set<std::string>{
        "NSDictionary", "NSMutableDictionary", "NSArray", "NSMutableArray", "NSDate", "NSNull",
        "NSString",     "NSMutableString",     "NSData",  "NSMutableData"};
    return classes;
}

ns::Result<DSArchiveValue> DSKeyedUnarchiver::unarchive(
    const ns::Data& data, const std::set<std::string>& allowedClasses) {
    if (data.empty()) return corrupt("Empty archive");
    if (data.length() > kMaxArchiveBytes) return corrupt("Archive too large");
    if (!data.chars().starts_with(kBinaryMagic)) return corrupt(kNotAnArchive);
    try {
        return unarchiveChecked(data, allowedClasses);
    } catch (const Refusal& refusal) {
        return corrupt(refusal.reason);
    }
}
