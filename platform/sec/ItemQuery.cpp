#include "platform/sec/ItemQuery.h"

#include <algorithm>
#include <array>

#include "platform/sec/SecItem.h"

namespace sec {

namespace {

enum class Kind : uint8_t { Bytes, Text, Integer, Boolean, Accessibility, KeyClass };

struct AttributeRule {
    std::string_view key;
    Kind kind;
    bool genericPassword;
    bool key_;
};

constexpr std::array kRules{
    AttributeRule{kSecAttrService, Kind::Bytes, true, false},
    AttributeRule{kSecAttrAccount, Kind::Bytes, true, false},
    AttributeRule{kSecAttrGeneric, Kind::Bytes, true, false},
    AttributeRule{kSecAttrAccessGroup, Kind::Text, true, true},
    AttributeRule{kSecAttrLabel, Kind::Text, true, true},
    AttributeRule{kSecAttrAccessible, Kind::Accessibility, true, true},
    AttributeRule{kSecAttrApplicationTag, Kind::Bytes, false, true},
    AttributeRule{kSecAttrKeyClass, Kind::KeyClass, false, true},
    AttributeRule{kSecAttrKeyType, Kind::Text, false, true},
    AttributeRule{kSecAttrKeySizeInBits, Kind::Integer, false, true},
    AttributeRule{kSecAttrIsPermanent, Kind::Boolean, false, true},
};

constexpr std::array<std::string_view, 7> kAccessibilities{
    kSecAttrAccessibleWhenUnlocked,
    kSecAttrAccessibleAfterFirstUnlock,
    kSecAttrAccessibleAlways,
    kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly,
    kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
    kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly,
    kSecAttrAccessibleAlwaysThisDeviceOnly,
};

const AttributeRule* ruleFor(std::string_view key) {
    for (const auto& rule : kRules) {
        if (rule.key == key) return &rule;
    }
    return nullptr;
}

bool isOneOf(const ns::Value& value, std::initializer_list<std::string_view> choices) {
    const std::string* text = value.string();
    if (!text) return false;
    for (auto choice : choices) {
        if (*text == choice) return true;
    }
    return false;
}

bool hasKind(const ns::Value& value, Kind kind) {
    switch (kind) {
        case Kind::Bytes:
            return value.isString() || value.isData();
        case Kind::Text:
            return value.isString();
        case Kind::Integer:
            return value.type() == ns::Value::Type::Integer;
        case Kind::Boolean:
            return value.isBool();
        case Kind::Accessibility: {
            const std::string* text = value.string();
            return text && std::find(kAccessibilities.begin(), kAccessibilities.end(), *text) !=
                               kAccessibilities.end();
        }
        case Kind::KeyClass:
            return isOneOf(value, {kSecAttrKeyClassPublic, kSecAttrKeyClassPrivate});
    }
    return false;
}

std::optional<ItemClass> parseClass(const ns::Value& value) {
    if (isOneOf(value, {kSecClassGenericPassword})) return ItemClass::GenericPassword;
    if (isOneOf(value, {kSecClassKey})) return ItemClass::Key;
    return std::nullopt;
}

OSStatus parseFlag(const ns::Value& value, bool& out) {
    if (!value.isBool()) return errSecParam;
    out = *value.boolean();
    return errSecSuccess;
}

}  // namespace

std::string_view ItemQuery::classValue(ItemClass itemClass) {
    return itemClass == ItemClass::Key ? kSecClassKey : kSecClassGenericPassword;
}

OSStatus ItemQuery::parse(const ns::Dictionary& dictionary, Use use, ItemQuery& out,
                          ItemClass changesClass) {
    out = ItemQuery{};
    if (use == Use::Changes) {
        out.itemClass = changesClass;
    } else {
        auto found = dictionary.find(kSecClass);
        if (found == dictionary.end()) return errSecParam;
        auto itemClass = parseClass(found->second);
        if (!itemClass) return errSecParam;
        out.itemClass = *itemClass;
    }
    const bool mayReturn = use == Use::Add || use == Use::Search;
    out.attributes.reserve(dictionary.size());
    for (const auto& [member, value] : dictionary) {
        // Compared as a view: lengths settle most comparisons without reading the text.
        const std::string_view key = member;
        if (key == kSecClass) {
            if (use == Use::Changes) return errSecParam;
        } else if (key == kSecValueData) {
            if (!(use == Use::Add || use == Use::Changes) || !value.isData()) return errSecParam;
            out.data = *value.data();
        } else if (key == kSecReturnData && mayReturn) {
            if (parseFlag(value, out.returnData) != errSecSuccess) return errSecParam;
        } else if (key == kSecReturnAttributes && mayReturn) {
            if (parseFlag(value, out.returnAttributes) != errSecSuccess) return errSecParam;
        } else if (key == kSecReturnRef && use == Use::Search) {
            if (parseFlag(value, out.returnRef) != errSecSuccess) return errSecParam;
        } else if (key == kSecMatchLimit && use != Use::Changes) {
            if (!isOneOf(value, {kSecMatchLimitOne, kSecMatchLimitAll})) return errSecParam;
            // Add, update and delete act on every match whatever the limit says.
            out.limitAll = use == Use::Search && *value.string() == kSecMatchLimitAll;
        } else {
            const AttributeRule* rule = ruleFor(key);
            if (!rule) return errSecParam;
            bool allowed = out.itemClass == ItemClass::Key ? rule->key_ : rule->genericPassword;
            if (!allowed || !hasKind(value, rule->kind)) return errSecParam;
            out.attributes.emplace(member, value);
        }
    }
    return errSecSuccess;
}

std::string_view attributeBytes(const ns::Value& value) {
    if (const std::string* text = value.string()) return *text;
    if (const ns::Data* data = value.data()) return data->chars();
    return {};
}

bool attributeValuesEqual(const ns::Value& a, const ns::Value& b) {
    const bool aBytes = a.isString() || a.isData();
    const bool bBytes = b.isString() || b.isData();
    if (aBytes || bBytes) return aBytes && bBytes && attributeBytes(a) == attributeBytes(b);
    if (a.type() != b.type()) return false;
    if (a.isBool()) return a.boolean() == b.boolean();
    if (a.isInteger()) return a.int64() == b.int64();
    return false;
}

}  // namespace sec
