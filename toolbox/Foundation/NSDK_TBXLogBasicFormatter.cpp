#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"

namespace {

bool isWhiteSpaceOrNewline(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isWhiteSpaceOrNewline(text.front())) text.remove_prefix(1);
    while (!text.empty() && isWhiteSpaceOrNewline(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> NSDK_TBXLogBasicFormatter::stringForFunc(
    const std::optional<std::string>& /*func*/, std::optional<std::string_view> format,
    std::span<const ns::FormatArg> args, TBXLogLevel /*level*/) {
    if (!format) return std::nullopt;
    return ns::vformat(*format, args);
}

std::string NSDK_TBXLogBasicFormatter::prettyNameForFunc(
    const std::optional<std::string>& func) const {
    std::string_view name = func ? trimmed(*func) : std::string_view();
    if (name.empty()) return "(unknown)";
    if (name.starts_with("-[") || name.starts_with("+[") || name.ends_with(")")) {
        return std::string(name);
    }
    return std::string(name) + "()";
}
