#include "sdk/core/NEBBundleUtil.h"

std::vector<std::shared_ptr<ns::Bundle>> NEBBundleUtil::relevantBundles() {
    // The SDK is linked into the program, so the bundle that holds it is the main bundle.
    auto main = ns::Bundle::mainBundle();
    return {main, main};
}

std::optional<std::string> NEBBundleUtil::optionsDictionaryPathWithResourceName(
    std::string_view resourceName, std::string_view fileType,
    const std::vector<std::shared_ptr<ns::Bundle>>& bundles) {
    for (const auto& bundle : bundles) {
        if (!bundle) continue;
        if (auto path = bundle->pathForResource(resourceName, fileType)) return path;
    }
    return std::nullopt;
}

std::vector<std::string> NEBBundleUtil::relevantURLSchemes() {
    std::vector<std::string> schemes;
    for (const auto& bundle : relevantBundles()) {
        const auto* types = bundle->objectForInfoDictionaryKey("CFBundleURLTypes").array();
        if (!types) continue;
        for (const auto& type : *types) {
            const auto* entries = type["CFBundleURLSchemes"].array();
            if (!entries) continue;
            for (const auto& scheme : *entries) {
                if (const auto* text = scheme.string()) schemes.push_back(*text);
            }
        }
    }
    return schemes;
}

std::set<std::string> NEBBundleUtil::relevantBundleIdentifiers() {
    std::set<std::string> identifiers;
    for (const auto& bundle : relevantBundles()) {
        if (auto identifier = bundle->bundleIdentifier()) identifiers.insert(*identifier);
    }
    return identifiers;
}

bool NEBBundleUtil::hasBundleIdentifier(std::string_view bundleIdentifier,
                                        const std::vector<std::shared_ptr<ns::Bundle>>& bundles) {
    for (const auto& bundle : bundles) {
        if (!bundle) continue;
        auto identifier = bundle->bundleIdentifier();
        if (identifier && *identifier == bundleIdentifier) return true;
    }
    return false;
}
