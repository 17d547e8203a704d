#pragma once

#include <map>
#include <string>

// The public names of the events, parameters and user properties the SDK itself produces,
// mapped to the short internal names they are stored and uploaded under.
class NEBAInternalNames {
public:
    using NameMap = std::map<std::string, std::string, std::less<>>;
    static const NameMap& eventNameMap();
    static const NameMap& parameterNameMap();
    static const NameMap& userPropertyNameMap();
};
