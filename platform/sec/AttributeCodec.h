#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Value.h"

namespace sec {

// The stored form of an item's attribute dictionary. Values are text, data, integers or
// booleans (what keychain attributes hold). The decoder reads bytes from a file that anyone
// with access to it could have changed, so it checks every length against what is left and
// rejects anything it did not write.
class AttributeCodec {
public:
    // Throws ns::Exception for a value of another kind: callers check attributes first.
    static ns::Data encode(const ns::Dictionary& attributes);
    static std::optional<ns::Dictionary> decode(const uint8_t* bytes, size_t length);
    // Whether decode() would accept the bytes and the attributes it would give hold every
    // member of `wanted` that `considered` answers true for, with an equal value
    // (attributeValuesEqual); answered without building the dictionary, for look-ups that only
    // match on the stored attributes.
    static bool contains(const uint8_t* bytes, size_t length, const ns::Dictionary& wanted,
                         bool (*considered)(std::string_view key));
};

}  // namespace sec
