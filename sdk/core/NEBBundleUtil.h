#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Bundle.h"

// The bundle questions that configuration asks: where to look for resources, and which URL
// schemes and bundle identifiers the application declares.
class NEBBundleUtil {
public:
    // The main bundle, then the bundle that holds the SDK; in an application both are the
    // application bundle.
    static std::vector<std::shared_ptr<ns::Bundle>> relevantBundles();
    // The first bundle, in order, that has the resource decides.
    static std::optional<std::string> optionsDictionaryPathWithResourceName(
        std::string_view resourceName, std::string_view fileType,
        const std::vector<std::shared_ptr<ns::Bundle>>& bundles);
    // Every string under "CFBundleURLSchemes" of every "CFBundleURLTypes" entry, bundle by
    // bundle and entry by entry; duplicates stay.
    static std::vector<std::string> relevantURLSchemes();
    static std::set<std::string> relevantBundleIdentifiers();
    static bool hasBundleIdentifier(std::string_view bundleIdentifier,
                                    const std::vector<std::shared_ptr<ns::Bundle>>& bundles);
};
