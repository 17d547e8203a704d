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

std::optional<ns::Dictionary> AttributeCodec::decode(const uint8_t* bytes, size_t length) {
    Reader in(bytes, length);
    uint8_t version;
    if (!in.byte(version) || version != kVersion) return std::nullopt;
    ns::Dictionary attributes;
    std::string_view previous;
    bool first = true;
    while (!in.atEnd()) {
        uint8_t tag;
        std::string_view key;
        if (!in.byte(tag) || !in.bytes(key) || !ns::utf8::isValid(key)) return std::nullopt;
        // The encoder writes keys in ascending order, so this also refuses duplicates.
        if (!first && key <= previous) return std::nullopt;
        first = false;
        previous = key;
        ns::Value value;
        std::string_view text;
        uint64_t n;
        switch (tag) {
            case kText:
                if (!in.bytes(text) || !ns::utf8::isValid(text)) return std::nullopt;
                value = ns::Value(text);
                break;
            case kData:
                if (!in.bytes(text)) return std::nullopt;
                value = ns::Value(ns::Data(text.data(), text.size()));
                break;
            case kInteger:
                if (!in.u64(n)) return std::nullopt;
                value = ns::Value(static_cast<long long>(static_cast<int64_t>(n)));
                break;
            case kFalse:
            case kTrue:
                value = ns::Value(tag == kTrue);
                break;
            default:
                return std::nullopt;
        }
        attributes.emplace_hint(attributes.end(), std::string(key), std::move(value));
    }
    return attributes;
}

}  // namespace sec
