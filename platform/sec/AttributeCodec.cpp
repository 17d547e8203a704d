#include "platform/sec/AttributeCodec.h"

#include <string>
#include <string_view>

#include "platform/ns/Exception.h"
#include "platform/ns/UTF8.h"

namespace sec {

namespace {

constexpr uint8_t kVersion = 1;

enum Tag : uint8_t { kText = 1, kData = 2, kInteger = 3, kFalse = 4, kTrue = 5 };

void putU32(ns::Data& out, uint32_t n) {
    uint8_t b[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    out.append(b, sizeof b);
}

void putBytes(ns::Data& out, std::string_view bytes) {
    if (bytes.size() > UINT32_MAX) {
        throw ns::Exception(ns::kInvalidArgumentException, "keychain attribute too long");
    }
    putU32(out, static_cast<uint32_t>(bytes.size()));
    out.append(bytes.data(), bytes.size());
}

class Reader {
public:
    Reader(const uint8_t* bytes, size_t length) : p_(bytes), end_(bytes + length) {}

    bool atEnd() const { return p_ == end_; }

    bool byte(uint8_t& out) {
        if (p_ == end_) return false;
        out = *p_++;
        return true;
    }

    bool u64(uint64_t& out) {
        if (end_ - p_ < 8) return false;
        out = 0;
        for (int k = 7; k >= 0; --k) out = (out << 8) | p_[k];
        p_ += 8;
        return true;
    }

    bool bytes(std::string_view& out) {
        if (end_ - p_ < 4) return false;
        uint32_t n =
            uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        if (static_cast<size_t>(end_ - p_) < n) return false;
        out = {reinterpret_cast<const char*>(p_), n};
        p_ += n;
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

}  // namespace

ns::Data AttributeCodec::encode(const ns::Dictionary& attributes) {
    ns::Data out;
    out.append(&kVersion, 1);
    for (const auto& [key, value] : attributes) {
        uint8_t tag;
        if (value.isString()) {
            tag = kText;
        } else if (value.isData()) {
            tag = kData;
        } else if (value.type() == ns::Value::Type::Integer) {
            tag = kInteger;
        } else if (value.isBool()) {
            tag = *value.boolean() ? kTrue : kFalse;
        } else {
            throw ns::Exception(ns::kInvalidArgumentException,
                                "keychain attribute \"" + key + "\" has an unsupported kind");
        }
        out.append(&tag, 1);
        putBytes(out, key);
        if (tag == kText) {
            putBytes(out, *value.string());
        } else if (tag == kData) {
            putBytes(out, value.data()->chars());
        } else if (tag == kInteger) {
            auto n = static_cast<uint64_t>(*value.int64());
            uint8_t b[8];
            for (int k = 0; k < 8; ++k) b[k] = uint8_t(n >> (8 * k));
            out.append(b, sizeof b);
        }
    }
    return out;
}

namespace {

// One stored entry: its tag, and its text or data bytes, or its integer.
struct Entry {
    uint8_t tag;
    std::string_view key;
    std::string_view bytes;
    int64_t integer = 0;
};

// Reads every entry in order, refusing whatever the encoder would not have written; `visit`
// answers false to stop early (the walk then answers false too).
template <class Visit>
bool walk(const uint8_t* bytes, size_t length, Visit&& visit) {
    Reader in(bytes, length);
    uint8_t version;
    if (!in.byte(version) || version != kVersion) return false;
    std::string_view previous;
    bool first = true;
    while (!in.atEnd()) {
        Entry entry{};
        if (!in.byte(entry.tag) || !in.bytes(entry.key) || !ns::utf8::isValid(entry.key)) {
            return false;
        }
        // The encoder writes keys in ascending order, so this also refuses duplicates.
        if (!first && entry.key <= previous) return false;
        first = false;
        previous = entry.key;
        uint64_t n;
        switch (entry.tag) {
            case kText:
                if (!in.bytes(entry.bytes) || !ns::utf8::isValid(entry.bytes)) return false;
                break;
            case kData:
                if (!in.bytes(entry.bytes)) return false;
                break;
            case kInteger:
                if (!in.u64(n)) return false;
                entry.integer = static_cast<int64_t>(n);
                break;
            case kFalse:
            case kTrue:
                break;
            default:
                return false;
        }
        if (!visit(entry)) return false;
    }
    return true;
}

// attributeValuesEqual between a stored entry and a value of a query.
bool entryEquals(const Entry& entry, const ns::Value& value) {
    if (const std::string* text = value.string()) {
        return (entry.tag == kText || entry.tag == kData) && entry.bytes == *text;
    }
    if (const ns::Data* data = value.data()) {
        return (entry.tag == kText || entry.tag == kData) && entry.bytes == data->chars();
    }
    if (value.isBool()) return entry.tag == (*value.boolean() ? kTrue : kFalse);
    if (value.type() == ns::Value::Type::Integer) {
        return entry.tag == kInteger && entry.integer == *value.int64();
    }
    return false;
}

}  // namespace

std::optional<ns::Dictionary> AttributeCodec::decode(const uint8_t* bytes, size_t length) {
    ns::Dictionary attributes;
    const bool whole = walk(bytes, length, [&](const Entry& entry) {
        ns::Value value;
        switch (entry.tag) {
            case kText:
                value = ns::Value(entry.bytes);
                break;
            case kData:
                value = ns::Value(ns::Data(entry.bytes.data(), entry.bytes.size()));
                break;
            case kInteger:
                value = ns::Value(static_cast<long long>(entry.integer));
                break;
            default:
                value = ns::Value(entry.tag == kTrue);
        }
        attributes.emplace_hint(attributes.end(), std::string(entry.key), std::move(value));
        return true;
    });
    if (!whole) return std::nullopt;
    return attributes;
}

bool AttributeCodec::contains(const uint8_t* bytes, size_t length, const ns::Dictionary& wanted,
                              bool (*considered)(std::string_view key)) {
    // Both sides are in ascending key order: one pass over each.
    auto next = wanted.begin();
    auto skipIgnored = [&] {
        while (next != wanted.end() && !considered(next->first)) ++next;
    };
    skipIgnored();
    const bool whole = walk(bytes, length, [&](const Entry& entry) {
        if (next == wanted.end()) return true;  // the rest is only checked
        const int order = entry.key.compare(next->first);
        if (order < 0) return true;
        // A wanted attribute that the item lacks, or holds with another value, settles it: the
        // row is passed over whether or not the rest of it is well formed.
        if (order > 0 || !entryEquals(entry, next->second)) return false;
        ++next;
        skipIgnored();
        return true;
    });
    return whole && next == wanted.end();
}

}  // namespace sec
