#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include "toolbox/Foundation/TBXLogLevel.h"

// Keeps the lines whose level is in a fixed set.
class NSDK_TBXLogAllowedLevelFilter : public TBXLogFilter {
public:
    // Null for a missing or empty set, or one holding a level outside 0 to 4.
    static std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> initWithAllowedLevels(
        const std::optional<std::set<TBXLogLevel>>& levels) {
        return made<NSDK_TBXLogAllowedLevelFilter>(levels.value_or(std::set<TBXLogLevel>()));
    }
    // Levels 0 to 4.
    static std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> init() {
        return initWithAllowedLevels(levelRange(kTBXLogLevelUnknown, kTBXLogLevelAssert));
    }

    bool filterAllowsMessage(std::string_view, TBXLogLevel level) const override {
        return allowedLevels_.contains(level);
    }
    const std::set<TBXLogLevel>& allowedLevels() const { return allowedLevels_; }

    explicit NSDK_TBXLogAllowedLevelFilter(std::set<TBXLogLevel> levels)
        : allowedLevels_(std::move(levels)) {}

protected:
    // A filter of that class for the levels; null unless they are some of 0 to 4.
    template <class Filter>
    static std::shared_ptr<Filter> made(std::set<TBXLogLevel> levels) {
        if (levels.empty() || *levels.begin() < kTBXLogLevelUnknown ||
            *levels.rbegin() > kTBXLogLevelAssert) {
            return nullptr;
        }
        return std::make_shared<Filter>(std::move(levels));
    }
    // The levels from..to that lie in 0 to 4.
    static std::set<TBXLogLevel> levelRange(TBXLogLevel from, TBXLogLevel to) {
        std::set<TBXLogLevel> levels;
        for (TBXLogLevel level = std::max(from, kTBXLogLevelUnknown);
             level <= std::min(to, kTBXLogLevelAssert); ++level) {
            levels.insert(level);
        }
        return levels;
    }

private:
    std::set<TBXLogLevel> allowedLevels_;
};
