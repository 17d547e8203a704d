#include "sdk/messaging/NEBMessagingLogLevelFilter.h"

bool NEBMessagingLogLevelFilter::filterAllowsMessage(std::string_view, int level) const {
    return level >= 1 && level <= 3 && level >= level_;
}
