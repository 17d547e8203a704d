#include "bridge/NSArray+HYBJSONSerializingPrivate.h"

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

std::optional<std::string> hyb_JSONString(const ns::Array& array) {
    // Writing an ns::Value copies the array into it; a borrowed view would avoid that, but
    // messages are small except binary ones, which the plug-in result writes itself.
    ns::Result<std::string> json = ns::JSONSerialization::write(ns::Value(array));
    if (!json) {
        ns::nslog("NSArray JSONString error: %@", json.error());
        return std::nullopt;
    }
    return std::move(json).value();
}
