#include "sdk/analytics/NSError+NEBAAdditions.h"

ns::Error neba_errorWithCode(int64_t code, std::string_view description,
                             std::string_view monitorContext) {
    ns::Dictionary userInfo;
    if (!description.empty()) userInfo[ns::kLocalizedDescriptionKey] = ns::Value(description);
    if (!monitorContext.empty()) userInfo[kNEBAMonitorContextKey] = ns::Value(monitorContext);
    return ns::Error(kNEBAErrorDomain, code, std::move(userInfo));
}

std::string neba_monitorContext(const ns::Error& error) {
    if (error.domain() != kNEBAErrorDomain) return {};
    auto it = error.userInfo().find(kNEBAMonitorContextKey);
    if (it == error.userInfo().end() || !it->second.string()) return {};
    return *it->second.string();
}
