#include "toolbox/Foundation/NSDKClassLookup.h"

#include "platform/rt/ClassRegistry.h"

namespace {

std::string prefixed(std::string_view name) {
    std::string out(kNSDKClassPrefix);
    out.append(name);
    return out;
}

const rt::Class* lookUpPreferringPrefix(std::string_view name) {
    const auto& registry = rt::ClassRegistry::shared();
    std::string withPrefix = prefixed(name);
    if (registry.classNamed(withPrefix)) return registry.classNamed(withPrefix);
    return registry.classNamed(name);
}

}  // namespace

const rt::Class* NSDKLookUpClass(const char* name) {
    return name ? lookUpPreferringPrefix(name) : nullptr;
}

const rt::Class* NSDKGetClass(const char* name) {
    return name ? lookUpPreferringPrefix(name) : nullptr;
}

std::optional<std::string> NSDKGetProtocol(const char* name) {
    if (!name) return std::nullopt;
    const auto& registry = rt::ClassRegistry::shared();
    std::string withPrefix = prefixed(name);
    if (registry.protocolNamed(withPrefix)) return registry.protocolNamed(withPrefix);
    return registry.protocolNamed(name);
}

const rt::Class* NSDKClassFromString(const std::optional<std::string>& name) {
    return name ? lookUpPreferringPrefix(*name) : nullptr;
}
