#include "signin/DSKeyedUnarchiver.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/ns/Format.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/UTF8.h"

namespace {

// The platform's code for an archive that cannot be decoded.
constexpr int64_t kCoderReadCorruptError = 4864;
constexpr std::string_view kBinaryMagic = "bplist00";

ns::Error corrupt(std::string reason) {
    return ns::cocoaError(kCoderReadCorruptError, std::move(reason));
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

std::optional<uint64_t> uidOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_UID) return std::nullopt;
    uint64_t uid = 0;
    plist_get_uid_val(node, &uid);
    return uid;
}

// Text of a string node; bytes that are not UTF-8 are repaired, as every other reader of
// property lists does.
std::optional<std::string> textOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text) return std::string();
    std::string_view view(text, length);
    if (!ns::utf8::isValid(view)) return ns::utf8::repaired(view);
    return std::string(view);
}

std::optional<double> numberOf(plist_t node) {
    if (!node) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return d;
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return static_cast<double>(static_cast<int64_t>(u));
        }
        default:
            return std::nullopt;
    }
}

class Reader {
public:
    Reader(std::vector<plist_t> objects, const std::set<std::string>& allowed)
        : objects_(std::move(objects)),
          allowed_(allowed),
          state_(objects_.size(), kUnvisited),
          maxProduced_(4 * objects_.size() + 1024) {}

    ns::Result<DSArchiveValue> decode(uint64_t uid, size_t depth) {
        if (uid >= objects_.size()) return corrupt("Reference outside the archive's objects");
        if (uid == 0) return DSArchiveValue();
        if (depth > DSKeyedUnarchiver::kMaxDepth) return corrupt("Archive nested too deeply");
        if (state_[uid] == kOnPath) return corrupt("Archived object contains itself");
        // Shared references could otherwise expand a small archive into a huge graph: what is
        // decoded stays proportional to what was read.
        if (++produced_ > maxProduced_) return corrupt("Archive holds too many objects");
        state_[uid] = kOnPath;
        plist_t object = objects_[uid];
        ns::Result<DSArchiveValue> value = plist_get_node_type(object) == PLIST_DICT
                                               ? decodeInstance(object, depth)
                                               : scalar(object);
        state_[uid] = kUnvisited;
        return value;
    }

private:
    static constexpr uint8_t kUnvisited = 0;
    static constexpr uint8_t kOnPath = 1;

    static ns::Result<DSArchiveValue> scalar(plist_t node) {
        switch (plist_get_node_type(node)) {
            case PLIST_BOOLEAN: {
                uint8_t b = 0;
                plist_get_bool_val(node, &b);
                return DSArchiveValue::boolean(b != 0);
            }
            case PLIST_UINT: {
                uint64_t u = 0;
                plist_get_uint_val(node, &u);
                return DSArchiveValue::integer(static_cast<int64_t>(u));
            }
            case PLIST_REAL:
                return DSArchiveValue::real(*numberOf(node));
            case PLIST_STRING:
                return DSArchiveValue::text(*textOf(node));
            case PLIST_DATA: {
                uint64_t length = 0;
                const char* bytes = plist_get_data_ptr(node, &length);
                return DSArchiveValue::data(ns::Data(bytes, bytes ? length : 0));
            }
            case PLIST_DATE: {
                int32_t sec = 0, usec = 0;
                plist_get_date_val(node, &sec, &usec);
                return DSArchiveValue::date(
                    ns::Date::fromTimeIntervalSinceReferenceDate(sec + usec / 1e6));
            }
            default:
                return corrupt("Unexpected value in archive");
        }
    }

    ns::Result<std::string> className(plist_t object) {
        std::optional<uint64_t> uid = uidOf(plist_dict_get_item(object, "$class"));
        if (!uid || *uid == 0 || *uid >= objects_.size())
            return corrupt("Archived object without a class");
        plist_t classObject = objects_[*uid];
        if (plist_get_node_type(classObject) != PLIST_DICT)
            return corrupt("Archived class without a name");
        std::optional<std::string> name = textOf(plist_dict_get_item(classObject, "$classname"));
        if (!name) return corrupt("Archived class without a name");
        if (!allowed_.contains(*name))
            return corrupt(ns::format("Class '%@' is not allowed here", *name));
        return std::move(*name);
    }

    ns::Result<std::vector<DSArchiveValue>> references(plist_t object, const char* key,
                                                       size_t depth) {
        plist_t list = plist_dict_get_item(object, key);
        if (!list || plist_get_node_type(list) != PLIST_ARRAY)
            return corrupt(ns::format("Missing %s", key));
        std::vector<DSArchiveValue> items;
        items.reserve(plist_array_get_size(list));
        plist_array_iter it = nullptr;
        plist_array_new_iter(list, &it);
        std::unique_ptr<void, decltype(&free)> iterOwner(it, &free);
        plist_t ref = nullptr;
        for (plist_array_next_item(list, it, &ref); ref; plist_array_next_item(list, it, &ref)) {
            std::optional<uint64_t> uid = uidOf(ref);
            if (!uid) return corrupt("Container member is not a reference");
            ns::Result<DSArchiveValue> item = decode(*uid, depth + 1);
            if (!item) return item.error();
            items.push_back(std::move(*item));
        }
        return items;
    }

    ns::Result<DSArchiveValue> decodeInstance(plist_t object, size_t depth) {
        ns::Result<std::string> name = className(object);
        if (!name) return name.error();
        const std::string& cls = *name;
        if (cls == "NSDictionary" || cls == "NSMutableDictionary") {
            auto keys = references(object, "NS.keys", depth);
            if (!keys) return keys.error();
            auto values = references(object, "NS.objects", depth);
            if (!values) return values.error();
            if (keys->size() != values->size())
                return corrupt("Dictionary keys and objects differ");
            DSArchiveValue::Pairs pairs;
            pairs.reserve(keys->size());
            for (size_t i = 0; i < keys->size(); ++i)
                pairs.emplace_back(std::move((*keys)[i]), std::move((*values)[i]));
            return DSArchiveValue::dictionary(std::move(pairs), cls == "NSMutableDictionary");
        }
        if (cls == "NSArray" || cls == "NSMutableArray") {
            auto items = references(object, "NS.objects", depth);
            if (!items) return items.error();
            return DSArchiveValue::array(std::move(*items), cls == "NSMutableArray");
        }
        if (cls == "NSDate") {
            std::optional<double> time = numberOf(plist_dict_get_item(object, "NS.time"));
            if (!time) return corrupt("Date without time");
            return DSArchiveValue::date(ns::Date::fromTimeIntervalSinceReferenceDate(*time));
        }
        if (cls == "NSNull") return DSArchiveValue::null();
        if (cls == "NSString" || cls == "NSMutableString") {
            std::optional<std::string> text = textOf(plist_dict_get_item(object, "NS.string"));
            if (!text) return corrupt("String without text");
            return DSArchiveValue::text(std::move(*text));
        }
        if (cls == "NSData" || cls == "NSMutableData") {
            plist_t bytes = plist_dict_get_item(object, "NS.data");
            if (!bytes || plist_get_node_type(bytes) != PLIST_DATA)
                return corrupt("Data without bytes");
            return scalar(bytes);
        }
        auto instance = std::make_shared<DSArchiveObject>(cls);
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(object, &it);
        std::unique_ptr<void, decltype(&free)> iterOwner(it, &free);
        char* key = nullptr;
        plist_t field = nullptr;
        for (plist_dict_next_item(object, it, &key, &field); field;
             plist_dict_next_item(object, it, &key, &field)) {
            std::unique_ptr<char, decltype(&free)> keyOwner(key, &free);
            const std::string_view name(key ? key : "");
            if (name == "$class") continue;
            ns::Result<DSArchiveValue> value =
                uidOf(field) ? decode(*uidOf(field), depth + 1) : scalar(field);
            if (!value) return value.error();
            instance->set(std::string(name), std::move(*value));
        }
        return DSArchiveValue::object(std::move(instance));
    }

    std::vector<plist_t> objects_;
    const std::set<std::string>& allowed_;
    std::vector<uint8_t> state_;
    size_t produced_ = 0;
    size_t maxProduced_;
};

}  // namespace

const std::set<std::string>& DSKeyedUnarchiver::foundationClasses() {
    static const std::set<std::string> classes{
        "NSDictionary", "NSMutableDictionary", "NSArray", "NSMutableArray", "NSDate", "NSNull",
        "NSString",     "NSMutableString",     "NSData",  "NSMutableData"};
    return classes;
}

ns::Result<DSArchiveValue> DSKeyedUnarchiver::unarchive(
    const ns::Data& data, const std::set<std::string>& allowedClasses) {
    if (data.empty()) return corrupt("Empty archive");
    if (data.length() > kMaxArchiveBytes) return corrupt("Archive too large");
    // Archives are written in the binary form; the parser's nodes are read directly, after the
    // checks that keep input the parser cannot take away from it.
    if (!data.chars().starts_with(kBinaryMagic)) return corrupt("Not a keyed archive");
    if (std::optional<std::string> refused = ns::PropertyListSerialization::binaryRefusal(data))
        return corrupt(*refused);
    plist_t parsed = nullptr;
    plist_from_bin(data.chars().data(), static_cast<uint32_t>(data.length()), &parsed);
    if (!parsed) return corrupt("Archive is not a property list");
    std::unique_ptr<void, PlistFree> top(parsed);
    if (plist_get_node_type(parsed) != PLIST_DICT) return corrupt("Not a keyed archive");
    plist_t objects = plist_dict_get_item(parsed, "$objects");
    plist_t roots = plist_dict_get_item(parsed, "$top");
    std::optional<double> version = numberOf(plist_dict_get_item(parsed, "$version"));
    if (textOf(plist_dict_get_item(parsed, "$archiver")) != "NSKeyedArchiver" ||
        version != 100000 || !objects || plist_get_node_type(objects) != PLIST_ARRAY || !roots ||
        plist_get_node_type(roots) != PLIST_DICT)
        return corrupt("Not a keyed archive");
    if (plist_array_get_size(objects) > kMaxObjects)
        return corrupt("Archive holds too many objects");
    std::optional<uint64_t> rootUid = uidOf(plist_dict_get_item(roots, "root"));
    if (!rootUid) return corrupt("Archive without root object");

    std::vector<plist_t> list;
    list.reserve(plist_array_get_size(objects));
    plist_array_iter it = nullptr;
    plist_array_new_iter(objects, &it);
    std::unique_ptr<void, decltype(&free)> iterOwner(it, &free);
    plist_t item = nullptr;
    for (plist_array_next_item(objects, it, &item); item; plist_array_next_item(objects, it, &item))
        list.push_back(item);
    Reader reader(std::move(list), allowedClasses);
    return reader.decode(*rootUid, 0);
}
