#include "signin/DSKeyedUnarchiver.h"

#include <vector>

#include "platform/ns/Format.h"
#include "platform/ns/PropertyListSerialization.h"

namespace {

// The platform's code for an archive that cannot be decoded.
constexpr int64_t kCoderReadCorruptError = 4864;

ns::Error corrupt(std::string reason) {
    return ns::cocoaError(kCoderReadCorruptError, std::move(reason));
}

std::optional<uint64_t> uidOf(const ns::Value& value) {
    const ns::Dictionary* dict = value.dictionary();
    if (!dict || dict->size() != 1) return std::nullopt;
    const ns::Value* n = value.find("CF$UID");
    if (!n) return std::nullopt;
    return n->uint64();
}

class Reader {
public:
    Reader(const ns::Array& objects, const std::set<std::string>& allowed)
        : objects_(objects),
          allowed_(allowed),
          state_(objects.size(), kUnvisited),
          maxProduced_(4 * objects.size() + 1024) {}

    ns::Result<DSArchiveValue> decode(uint64_t uid, size_t depth) {
        if (uid >= objects_.size()) return corrupt("Reference outside the archive's objects");
        if (uid == 0) return DSArchiveValue();
        if (depth > DSKeyedUnarchiver::kMaxDepth) return corrupt("Archive nested too deeply");
        if (state_[uid] == kOnPath) return corrupt("Archived object contains itself");
        // Shared references could otherwise expand a small archive into a huge graph: what is
        // decoded stays proportional to what was read.
        if (++produced_ > maxProduced_) return corrupt("Archive holds too many objects");
        state_[uid] = kOnPath;
        ns::Result<DSArchiveValue> value = decodeObject(objects_[uid], depth);
        state_[uid] = kUnvisited;
        return value;
    }

private:
    static constexpr uint8_t kUnvisited = 0;
    static constexpr uint8_t kOnPath = 1;

    ns::Result<DSArchiveValue> decodeObject(const ns::Value& object, size_t depth) {
        switch (object.type()) {
            case ns::Value::Type::String:
                return DSArchiveValue::text(*object.string());
            case ns::Value::Type::Dictionary:
                return decodeInstance(object, depth);
            default:
                return scalar(object);
        }
    }

    static ns::Result<DSArchiveValue> scalar(const ns::Value& object) {
        switch (object.type()) {
            case ns::Value::Type::Bool:
                return DSArchiveValue::boolean(*object.boolean());
            case ns::Value::Type::Integer:
                return DSArchiveValue::integer(*object.int64());
            case ns::Value::Type::Unsigned:
            case ns::Value::Type::Double:
                return DSArchiveValue::real(object.doubleValue());
            case ns::Value::Type::String:
                return DSArchiveValue::text(*object.string());
            case ns::Value::Type::Data:
                return DSArchiveValue::data(*object.data());
            case ns::Value::Type::Date:
                return DSArchiveValue::date(*object.date());
            default:
                return corrupt("Unexpected value in archive");
        }
    }

    ns::Result<std::string> className(const ns::Value& object) {
        const ns::Value* ref = object.find("$class");
        std::optional<uint64_t> uid = ref ? uidOf(*ref) : std::nullopt;
        if (!uid || *uid == 0 || *uid >= objects_.size())
            return corrupt("Archived object without a class");
        const ns::Value* name = objects_[*uid].find("$classname");
        if (!name || !name->string()) return corrupt("Archived class without a name");
        if (!allowed_.contains(*name->string()))
            return corrupt(ns::format("Class '%@' is not allowed here", *name->string()));
        return *name->string();
    }

    ns::Result<std::vector<DSArchiveValue>> references(const ns::Value& object, const char* key,
                                                       size_t depth) {
        const ns::Value* list = object.find(key);
        if (!list || !list->array()) return corrupt(ns::format("Missing %s", key));
        std::vector<DSArchiveValue> items;
        items.reserve(list->array()->size());
        for (const ns::Value& ref : *list->array()) {
            std::optional<uint64_t> uid = uidOf(ref);
            if (!uid) return corrupt("Container member is not a reference");
            ns::Result<DSArchiveValue> item = decode(*uid, depth + 1);
            if (!item) return item.error();
            items.push_back(std::move(*item));
        }
        return items;
    }

    ns::Result<DSArchiveValue> decodeInstance(const ns::Value& object, size_t depth) {
        if (uidOf(object)) return corrupt("Reference in place of an object");
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
            const ns::Value* time = object.find("NS.time");
            if (!time || !time->number()) return corrupt("Date without time");
            return DSArchiveValue::date(
                ns::Date::fromTimeIntervalSinceReferenceDate(*time->number()));
        }
        if (cls == "NSNull") return DSArchiveValue::null();
        if (cls == "NSString" || cls == "NSMutableString") {
            const ns::Value* text = object.find("NS.string");
            if (!text || !text->string()) return corrupt("String without text");
            return DSArchiveValue::text(*text->string());
        }
        if (cls == "NSData" || cls == "NSMutableData") {
            const ns::Value* bytes = object.find("NS.data");
            if (!bytes || !bytes->data()) return corrupt("Data without bytes");
            return DSArchiveValue::data(*bytes->data());
        }
        auto instance = std::make_shared<DSArchiveObject>(cls);
        for (const auto& [key, field] : *object.dictionary()) {
            if (key == "$class") continue;
            if (std::optional<uint64_t> uid = uidOf(field)) {
                ns::Result<DSArchiveValue> value = decode(*uid, depth + 1);
                if (!value) return value.error();
                instance->set(key, std::move(*value));
            } else {
                ns::Result<DSArchiveValue> value = scalar(field);
                if (!value) return value.error();
                instance->set(key, std::move(*value));
            }
        }
        return DSArchiveValue::object(std::move(instance));
    }

    const ns::Array& objects_;
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
    ns::Result<ns::Value> plist = ns::PropertyListSerialization::read(data);
    if (!plist) return corrupt("Archive is not a property list");
    const ns::Value& top = *plist;
    const ns::Value* archiver = top.find("$archiver");
    const ns::Value* version = top.find("$version");
    const ns::Value* objects = top.find("$objects");
    const ns::Value* roots = top.find("$top");
    if (!archiver || !archiver->string() || *archiver->string() != "NSKeyedArchiver" || !version ||
        version->int64() != 100000 || !objects || !objects->array() || !roots ||
        !roots->dictionary())
        return corrupt("Not a keyed archive");
    if (objects->array()->size() > kMaxObjects) return corrupt("Archive holds too many objects");
    const ns::Value* root = roots->find("root");
    std::optional<uint64_t> rootUid = root ? uidOf(*root) : std::nullopt;
    if (!rootUid) return corrupt("Archive without root object");
    Reader reader(*objects->array(), allowedClasses);
    return reader.decode(*rootUid, 0);
}
