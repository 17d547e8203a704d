#include "bridge/NSString+HYBJSONSerializingPrivate.h"

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

std::optional<ns::Value> hyb_JSONObject(std::string_view text) {
    ns::Result<ns::Value> value =
        ns::JSONSerialization::read(text, {.loneSurrogatesReplaced = true});
    if (!value) {
        ns::nslog("NSString JSONObject error: %@, Malformed Data: %@", value.error(), text);
        return std::nullopt;
    }
    return std::move(value).value();
}

std::optional<ns::Value> hyb_JSONFragment(std::string_view text) {
    ns::Result<ns::Value> value = ns::JSONSerialization::read(
        text, {.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
    if (!value) {
        ns::nslog("NSString JSONObject error: %@", value.error());
        return std::nullopt;
    }
    return std::move(value).value();
}
