#include "toolbox/Foundation/NSDK_TBXLogAllowedLevelFilter.h"

#include <algorithm>

std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> NSDK_TBXLogAllowedLevelFilter::initWithAllowedLevels(
    const std::optional<std::set<TBXLogLevel>>& levels) {
    if (!levels || !isValid(*levels)) return nullptr;
    return std::make_shared<NSDK_TBXLogAllowedLevelFilter>(*levels);
}

std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> NSDK_TBXLogAllowedLevelFilter::init() {
    return initWithAllowedLevels(levelRange(kTBXLogLevelUnknown, kTBXLogLevelAssert));
}

bool NSDK_TBXLogAllowedLevelFilter::filterAllowsMessage(const std::string& /*message*/,
                                                        TBXLogLevel level) {
    return allowedLevels_.contains(level);
}

std::set<TBXLogLevel> NSDK_TBXLogAllowedLevelFilter::levelRange(TBXLogLevel from, TBXLogLevel to) {
    std::set<TBXLogLevel> levels;
    for (TBXLogLevel level = std::max(from, kTBXLogLevelUnknown);
         level <= std::min(to, kTBXLogLevelAssert); ++level) {
        levels.insert(level);
    }
    return levels;
}

bool NSDK_TBXLogAllowedLevelFilter::isValid(const std::set<TBXLogLevel>& levels) {
    return !levels.empty() && *levels.begin() >= kTBXLogLevelUnknown &&
           *levels.rbegin() <= kTBXLogLevelAssert;
}
