#include "platform/ns/PropertyListSerialization.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/UTF8.h"

namespace ns {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, PlistDeleter>;

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr const char* kUidKey = "CF$UID";

Error readError(std::string reason) {
    return cocoaError(kPropertyListReadCorruptError, std::move(reason));
}

Error writeError(std::string reason) {
    return cocoaError(kPropertyListWriteInvalidError, std::move(reason));
}

// ---------------------------------------------------------------------------------------------
// Checks before parsing. The parser recurses once per level without bound and stops the process
// on some malformed input, so input is measured and checked before it gets there.

// Element nesting of XML text: comments, CDATA, processing instructions and declarations are
// skipped; every other opening tag that is not self-closing opens a level.
bool xmlNestingWithin(std::string_view text, size_t maxDepth) {
    size_t depth = 0;
    size_t i = 0;
    auto skipPast = [&](std::string_view terminator) {
        const size_t end = text.find(terminator, i);
        i = end == std::string_view::npos ? text.size() : end + terminator.size();
    };
    while ((i = text.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<!")) {
            skipPast(">");
        } else if (rest.starts_with("</")) {
            if (depth > 0) --depth;
            skipPast(">");
        } else {
            const size_t end = text.find('>', i);
            if (end == std::string_view::npos) break;  // the parser refuses it
            if (text[end - 1] != '/' && ++depth > maxDepth) return false;
            i = end + 1;
        }
    }
    return true;
}

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

// ---------------------------------------------------------------------------------------------
// Property list nodes to values

// The XML form of a single node, for the questions that the parser's accessors cannot answer.
std::string xmlOf(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (!xml) return {};
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

// Integers above INT64_MAX and negative ones share one 64-bit field in the parser's nodes; only
// the node's XML form tells them apart.
bool isLargeUnsigned(plist_t node) {
    return xmlOf(node).find("<integer>-") == std::string::npos;
}

// The accessor truncates towards zero and drops the sign of the fraction: -1.75 s comes back as
// -1 s and 750000 us. (Within the second before 2001 the sign is lost; newDate avoids writing
// such dates.)
Date dateOf(plist_t node) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    const double fraction = usec / 1e6;
    return Date::fromTimeIntervalSinceReferenceDate(sec < 0 ? sec - fraction : sec + fraction);
}

std::optional<Value> toValue(plist_t node, size_t depth) {
    if (depth > PropertyListSerialization::kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
                isLargeUnsigned(node)) {
                return Value(static_cast<unsigned long long>(u));
            }
            return Value(static_cast<long long>(static_cast<int64_t>(u)));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return Value(std::string(s ? s : "", s ? length : 0));
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            return Value(Data(bytes, bytes ? length : 0));
        }
        case PLIST_DATE:
            return Value(dateOf(node));
        case PLIST_UID: {
            uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return Value::dict({{kUidKey, Value(static_cast<unsigned long long>(uid))}});
        }
        case PLIST_ARRAY: {
            Array items;
            const uint32_t n = plist_array_get_size(node);
            items.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                auto item = toValue(plist_array_get_item(node, i), depth + 1);
                if (!item) return std::nullopt;
                items.push_back(std::move(*item));
            }
            return Value(std::move(items));
        }
        case PLIST_DICT: {
            Dictionary members;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (!item) {
                    std::free(key);
                    break;
                }
                std::string name = key ? key : "";
                std::free(key);
                auto v = toValue(item, depth + 1);
                if (!v) {
                    std::free(it);
                    return std::nullopt;
                }
                members.appendUnsorted(std::move(name), std::move(*v));
            }
            std::free(it);
            members.finishAppending();
            return Value(std::move(members));
        }
        default:
            return std::nullopt;
    }
}

// ---------------------------------------------------------------------------------------------
// Values to property list nodes

// See isLargeUnsigned: a node that holds an integer above INT64_MAX is only made by parsing it.
plist_t newLargeUnsigned(uint64_t u) {
    const std::string xml = "<plist><integer>" + std::to_string(u) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
    return node;
}

plist_t newDate(const Date& date) {
    // The writer keeps 32-bit seconds since 2001.
    double t = date.timeIntervalSinceReferenceDate();
    if (std::isnan(t)) t = 0;
    // A fraction of the second before 2001 would read back with the wrong sign (see dateOf).
    if (t > -1 && t < 0) t = std::round(t);
    t = std::clamp(t, double(std::numeric_limits<int32_t>::min()),
                   double(std::numeric_limits<int32_t>::max()));
    double whole = std::floor(t);
    auto usec = static_cast<int32_t>(std::lround((t - whole) * 1e6));
    if (usec >= 1000000 && whole < std::numeric_limits<int32_t>::max()) {
        whole += 1;
        usec = 0;
    }
    return plist_new_date(static_cast<int32_t>(whole), std::min(usec, 999999));
}

std::optional<std::string> textFor(const std::string& s, std::string& reason) {
    if (s.find('\0') != std::string::npos) {
        reason = "Property list invalid for format (strings cannot contain NUL characters)";
        return std::nullopt;
    }
    return utf8::isValid(s) ? s : utf8::repaired(s);
}

Node toNode(const Value& v, std::string& reason) {
    switch (v.type()) {
        case Value::Type::Null:
            reason = "Property list invalid for format (property lists cannot contain null)";
            return nullptr;
        case Value::Type::Bool:
            return Node(plist_new_bool(*v.boolean() ? 1 : 0));
        case Value::Type::Integer:
            return Node(plist_new_uint(static_cast<uint64_t>(*v.int64())));
        case Value::Type::Unsigned:
            return Node(newLargeUnsigned(*v.uint64()));
        case Value::Type::Double:
            return Node(plist_new_real(*v.number()));
        case Value::Type::String: {
            auto text = textFor(*v.string(), reason);
            return text ? Node(plist_new_string(text->c_str())) : nullptr;
        }
        case Value::Type::Data:
            return Node(plist_new_data(reinterpret_cast<const char*>(v.data()->bytes()),
                                       v.data()->length()));
        case Value::Type::Date:
            return Node(newDate(*v.date()));
        case Value::Type::Array: {
            Node array(plist_new_array());
            for (const Value& item : *v.array()) {
                Node child = toNode(item, reason);
                if (!child) return nullptr;
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case Value::Type::Dictionary: {
            Node dict(plist_new_dict());
            for (const auto& [key, item] : *v.dictionary()) {
                auto name = textFor(key, reason);
                if (!name) return nullptr;
                Node child = toNode(item, reason);
                if (!child) return nullptr;
                plist_dict_set_item(dict.get(), name->c_str(), child.release());
            }
            return dict;
        }
    }
    return nullptr;
}

}  // namespace

Result<Value> PropertyListSerialization::read(const Data& data, Format* format) {
    const std::string_view text = data.chars();
    if (text.empty()) return readError("Cannot parse a NULL or zero-length data");
    if (text.size() > std::numeric_limits<uint32_t>::max())
        return readError("Property list too large");
    const bool binary = text.starts_with(kBinaryMagic);
    if (binary) {
        if (auto refused = BinaryPrecheck(data.bytes(), data.length()).problem(kMaxDepth))
            return readError(*refused);
    } else if (!xmlNestingWithin(text, kMaxDepth + 2)) {  // <plist> and a leaf element
        return readError("Too many nested arrays or dictionaries");
    }

    plist_t root = nullptr;
    if (binary) {
        plist_from_bin(text.data(), static_cast<uint32_t>(text.size()), &root);
    } else {
        plist_from_xml(text.data(), static_cast<uint32_t>(text.size()), &root);
    }
    if (!root)
        return readError(binary ? "Malformed binary property list"
                                : "Unexpected character or structure in property list");
    Node owner(root);
    std::optional<Value> value = toValue(root, 0);
    if (!value) return readError("Unsupported value in property list");
    if (format) *format = binary ? Format::Binary : Format::XML;
    return std::move(*value);
}

std::optional<std::string> PropertyListSerialization::binaryRefusal(const Data& data) {
    return BinaryPrecheck(data.bytes(), data.length()).problem(kMaxDepth);
}

Result<Data> PropertyListSerialization::write(const Value& value, Format format) {
    std::string reason;
    Node root = toNode(value, reason);
    if (!root) return writeError(reason.empty() ? "Property list invalid for format" : reason);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary) {
        plist_to_bin(root.get(), &out, &length);
    } else {
        plist_to_xml(root.get(), &out, &length);
    }
    if (!out) return writeError("Property list could not be written");
    Data data(out, length);
    if (format == Format::Binary) {
        plist_to_bin_free(out);
    } else {
        plist_to_xml_free(out);
    }
    return data;
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
