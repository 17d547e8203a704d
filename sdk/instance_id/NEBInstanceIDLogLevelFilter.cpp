#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"

bool NEBInstanceIDLogLevelFilter::filterAllowsMessage(std::string_view,
                                                      NEBInstanceIDLogLevel level) const {
    auto value = static_cast<int8_t>(level);
    if (value < 1 || value > 3) return false;
    return value >= level_;
}
