#include "signin/DSKeyedArchiver.h"

#include <plist/plist.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/ns/UTF8.h"

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, PlistFree>;

class Writer {
public:
    Writer() : objects_(plist_new_array()) {
        plist_array_append_item(objects_.get(), plist_new_string("$null"));
    }

    uint64_t encode(const DSArchiveValue& value) {
        using Kind = DSArchiveValue::Kind;
        switch (value.kind()) {
            case Kind::Nil:
                return 0;
            case Kind::String:
                return encodeString(*value.string());
            case Kind::Bool:
                return append(plist_new_bool(value.boolValue()));
            case Kind::Integer:
                return append(integerNode(value.integerValue()));
            case Kind::Real:
                return append(plist_new_real(value.realValue()));
            case Kind::Data: {
                const ns::Data& d = *value.dataValue();
                return append(plist_new_data(reinterpret_cast<const char*>(d.bytes()), d.length()));
            }
            case Kind::Date: {
                plist_t dict = plist_new_dict();
                plist_dict_set_item(dict, "NS.time", plist_new_real(value.realValue()));
                plist_dict_set_item(dict, "$class", uid(classUid("NSDate", {"NSDate"})));
                return append(dict);
            }
            case Kind::Null: {
                plist_t dict = plist_new_dict();
                plist_dict_set_item(dict, "$class", uid(classUid("NSNull", {"NSNull"})));
                return append(dict);
            }
            case Kind::Array:
                return encodeArray(value);
            case Kind::Dictionary:
                return encodeDictionary(value);
            case Kind::Object:
                return encodeObject(value.sharedObject());
        }
        return 0;
    }

    std::optional<ns::Data> finish(uint64_t root) {
        if (failed_) return std::nullopt;
        Node top(plist_new_dict());
        plist_dict_set_item(top.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(top.get(), "$version", plist_new_uint(100000));
        plist_t topDict = plist_new_dict();
        plist_dict_set_item(topDict, "root", uid(root));
        plist_dict_set_item(top.get(), "$top", topDict);
        plist_dict_set_item(top.get(), "$objects", objects_.release());
        char* out = nullptr;
        uint32_t length = 0;
        plist_to_bin(top.get(), &out, &length);
        if (!out) return std::nullopt;
        ns::Data data(out, length);
        free(out);
        return data;
    }

private:
    static plist_t uid(uint64_t n) { return plist_new_uid(n); }
    // Negative integers travel as their two's complement, which the binary form reads back.
    static plist_t integerNode(int64_t i) { return plist_new_uint(static_cast<uint64_t>(i)); }

    uint64_t append(plist_t node) {
        plist_array_append_item(objects_.get(), node);
        return next_++;
    }

    // A slot for a container, filled once its members have their UIDs.
    uint64_t reserve() { return append(plist_new_bool(0)); }
    void fill(uint64_t slot, plist_t node) {
        plist_array_set_item(objects_.get(), node, static_cast<uint32_t>(slot));
    }

    // The format's writer takes C strings: a NUL would cut the text short, and bytes that are
    // not UTF-8 would not read back. Such text (a value, a key or a class name) makes the whole
    // archive fail instead.
    bool writable(const std::string& text) {
        if (text.find('\0') == std::string::npos && ns::utf8::isValid(text)) return true;
        failed_ = true;
        return false;
    }

    uint64_t encodeString(const std::string& text) {
        if (!writable(text)) return 0;
        // Short texts (keys, names, types) repeat across an archive and are written once;
        // long ones are tokens, unique, and not worth hashing.
        if (text.size() > kSharedTextLimit) return append(plist_new_string(text.c_str()));
        auto [it, added] = strings_.try_emplace(text, next_);
        if (added) append(plist_new_string(text.c_str()));
        return it->second;
    }

    uint64_t classUid(const std::string& name, std::initializer_list<const char*> chain) {
        auto it = classes_.find(name);
        if (it != classes_.end()) return it->second;
        if (!writable(name)) return 0;
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "$classname", plist_new_string(name.c_str()));
        plist_t classes = plist_new_array();
        for (const char* c : chain) plist_array_append_item(classes, plist_new_string(c));
        if (chain.size() == 0) plist_array_append_item(classes, plist_new_string(name.c_str()));
        plist_array_append_item(classes, plist_new_string("NSObject"));
        plist_dict_set_item(dict, "$classes", classes);
        const uint64_t at = append(dict);
        classes_.emplace(name, at);
        return at;
    }

    uint64_t encodeArray(const DSArchiveValue& value) {
        const uint64_t slot = reserve();
        plist_t refs = plist_new_array();
        for (const DSArchiveValue& item : *value.arrayValue())
            plist_array_append_item(refs, uid(encode(item)));
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "NS.objects", refs);
        plist_dict_set_item(
            dict, "$class",
            uid(value.isMutable() ? classUid("NSMutableArray", {"NSMutableArray", "NSArray"})
                                  : classUid("NSArray", {"NSArray"})));
        fill(slot, dict);
        return slot;
    }

    uint64_t encodeDictionary(const DSArchiveValue& value) {
        const uint64_t slot = reserve();
        plist_t keys = plist_new_array();
        plist_t objects = plist_new_array();
        for (const auto& [k, v] : *value.pairs()) {
            plist_array_append_item(keys, uid(encode(k)));
            plist_array_append_item(objects, uid(encode(v)));
        }
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "NS.keys", keys);
        plist_dict_set_item(dict, "NS.objects", objects);
        plist_dict_set_item(
            dict, "$class",
            uid(value.isMutable()
                    ? classUid("NSMutableDictionary", {"NSMutableDictionary", "NSDictionary"})
                    : classUid("NSDictionary", {"NSDictionary"})));
        fill(slot, dict);
        return slot;
    }

    // An object shared by several owners is written once.
    uint64_t encodeObject(const std::shared_ptr<const DSArchiveObject>& object) {
        if (auto it = objectUids_.find(object.get()); it != objectUids_.end()) return it->second;
        const uint64_t slot = reserve();
        objectUids_.emplace(object.get(), slot);
        plist_t dict = plist_new_dict();
        for (const auto& [key, field] : object->fields()) {
            if (!writable(key)) continue;
            // Booleans are written in place, as encodeBool:forKey: does; everything else is an
            // object reference.
            plist_t node = field.kind() == DSArchiveValue::Kind::Bool
                               ? plist_new_bool(field.boolValue())
                               : uid(encode(field));
            plist_dict_set_item(dict, key.c_str(), node);
        }
        plist_dict_set_item(dict, "$class", uid(classUid(object->className(), {})));
        fill(slot, dict);
        return slot;
    }

    static constexpr size_t kSharedTextLimit = 256;

    Node objects_;
    uint64_t next_ = 1;
    bool failed_ = false;
    std::unordered_map<std::string, uint64_t> strings_;
    std::unordered_map<std::string, uint64_t> classes_;
    std::unordered_map<const DSArchiveObject*, uint64_t> objectUids_;
};

}  // namespace

std::optional<ns::Data> DSKeyedArchiver::archivedDataWithRootObject(const DSArchiveValue& root) {
    Writer writer;
    const uint64_t top = writer.encode(root);
    return writer.finish(top);
}
