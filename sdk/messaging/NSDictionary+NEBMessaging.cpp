#include "sdk/messaging/NSDictionary+NEBMessaging.h"

#include "sdk/messaging/NEBMessagingLogger.h"

std::string msg_string(const ns::Dictionary& dictionary) {
    std::string text;
    for (const auto& [key, value] : dictionary) {
        if (value.string()) text += ns::format("%@:%@%@", key, *value.string(), "|");
    }
    if (!text.empty()) text.pop_back();
    return text;
}

bool msg_hasNonStringKeysOrValues(const ns::Dictionary& dictionary) {
    for (const auto& [key, value] : dictionary) {
        if (!value.isString()) return true;
    }
    return false;
}

ns::Dictionary msg_trimNonStringValues(const ns::Dictionary& dictionary) {
    ns::Dictionary trimmed;
    for (const auto& [key, value] : dictionary) {
        if (value.isString()) {
            trimmed.insert_or_assign(key, value);
        } else {
            NEBMessagingSharedLogger().logFuncError(__func__, "Trimming key: %@, value: %@", key,
                                                    value);
        }
    }
    return trimmed;
}
