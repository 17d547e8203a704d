#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"

namespace sec {

enum class ItemClass : uint8_t { GenericPassword, Key };

// A checked keychain dictionary: the item class, the item attributes it names, and the
// control entries (value data, return kinds, match limit) taken apart from them.
class ItemQuery {
public:
    // What the dictionary is used for; each use admits different control entries.
    enum class Use : uint8_t {
        Add,      // attributes, value data, return kinds
        Search,   // attributes, return kinds, match limit
        Select,   // attributes only (match limit tolerated): the query of update and delete
        Changes,  // attributes and value data, no class: what an update writes
    };

    // errSecParam when an entry is unknown for the class, of the wrong type, or not allowed for
    // the use. For Changes the class is the one of the query that selects the items.
    static OSStatus parse(const ns::Dictionary& dictionary, Use use, ItemQuery& out,
                          ItemClass changesClass = ItemClass::GenericPassword);

    static std::string_view classValue(ItemClass itemClass);

    ItemClass itemClass = ItemClass::GenericPassword;
    ns::Dictionary attributes;  // item attributes only (no class, no control entries)
    std::optional<ns::Data> data;
    bool returnData = false;
    bool returnAttributes = false;
    bool returnRef = false;
    bool limitAll = false;
};

// Attribute values compare by their bytes when both are text or data (the keychain keeps them
// as bytes), otherwise by kind and value.
bool attributeValuesEqual(const ns::Value& a, const ns::Value& b);
// The bytes of a text or data value (empty for other kinds).
std::string_view attributeBytes(const ns::Value& value);

}  // namespace sec
