#pragma once

#include <memory>
#include <optional>
#include <set>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogFilter.h"

// Keeps the lines whose level is in a fixed set.
class NSDK_TBXLogAllowedLevelFilter : public ns::Object, public TBXLogFilter {
public:
    // Null for a missing or empty set, or one holding a level outside 0 to 4.
    static std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> initWithAllowedLevels(
        const std::optional<std::set<TBXLogLevel>>& levels);
    // Levels 0 to 4.
    static std::shared_ptr<NSDK_TBXLogAllowedLevelFilter> init();

    bool filterAllowsMessage(const std::string& message, TBXLogLevel level) override;
    const std::set<TBXLogLevel>& allowedLevels() const { return allowedLevels_; }

    explicit NSDK_TBXLogAllowedLevelFilter(std::set<TBXLogLevel> levels)
        : allowedLevels_(std::move(levels)) {}

protected:
    // A filter of that class for the valid levels from..to; null when there are none.
    template <class Filter>
    static std::shared_ptr<Filter> forRange(TBXLogLevel from, TBXLogLevel to) {
        auto levels = levelRange(from, to);
        if (!isValid(levels)) return nullptr;
        return std::make_shared<Filter>(std::move(levels));
    }
    // The levels from..to that are valid; empty when none is.
    static std::set<TBXLogLevel> levelRange(TBXLogLevel from, TBXLogLevel to);
    static bool isValid(const std::set<TBXLogLevel>& levels);

private:
    std::set<TBXLogLevel> allowedLevels_;
};
