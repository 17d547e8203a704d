#pragma once

#include <cstdint>
#include <string>

// The monitor's levels (64-bit integers on its interface). Errors and warnings come three ways:
// printed and sampled into the health record (the usual), printed only, or sampled only.
// Higher numbers have no name and are printed as warnings.
struct NEBALogLevel {
    enum : int64_t {
        ErrorNotSampled,
        Error,
        ErrorSampledOnly,
        WarningNotSampled,
        Warning,
        WarningSampledOnly,
        Info,
        Debug
    };
};

// What each level means, from one table: its description ("" above Debug), the system-log
// level it is written at (3 error, 4 warning, 5 notice, 7 debug), whether it is never printed,
// whether it is sampled, and the letter of its sample key.
struct NEBALogLevelFacts {
    const char* description;
    int32_t systemLogLevel;
    bool silent;
    bool monitorable;
    char sampleLetter;

    static const NEBALogLevelFacts& of(int64_t level) {
        static constexpr NEBALogLevelFacts kLevels[] = {
            {"ERROR", 3, false, false, 'E'},  {"ERROR", 3, false, true, 'E'},
            {"ERROR", 3, true, true, 'E'},    {"WARNING", 4, false, false, 'W'},
            {"WARNING", 4, false, true, 'W'}, {"WARNING", 4, true, true, 'W'},
            {"INFO", 5, false, false, '?'},   {"DEBUG", 7, false, false, '?'}};
        static constexpr NEBALogLevelFacts kUnnamed{"", 4, false, false, '?'};
        return level >= 0 && level <= NEBALogLevel::Debug ? kLevels[level] : kUnnamed;
    }
};

// Where the monitor's formatted lines go.
class NEBALogging {
public:
    virtual ~NEBALogging() = default;
    virtual void logMessage(const std::string& message, int64_t logLevel) = 0;
};
