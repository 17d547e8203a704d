#include "bridge/NSDictionary+HYBJSONSerializingPrivate.h"

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

std::optional<std::string> hyb_JSONString(const ns::Dictionary& dictionary) {
    ns::Result<std::string> json =
        ns::JSONSerialization::write(ns::Value(dictionary), {.prettyPrinted = true});
    if (!json) {
        ns::nslog("NSDictionary JSONString error: %@", json.error());
        return std::nullopt;
    }
    return std::move(json).value();
}
