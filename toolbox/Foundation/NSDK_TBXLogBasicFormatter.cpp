#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"

#include "platform/ns/StringComponents.h"

std::string NSDK_TBXLogBasicFormatter::prettyNameForFunc(std::string_view func) {
    const std::string_view name = ns::trimmedWhitespace(func);
    if (name.empty()) return "(unknown)";
    if (name.starts_with("-[") || name.starts_with("+[") || name.ends_with(")")) {
        return std::string(name);
    }
    return std::string(name) + "()";
}
