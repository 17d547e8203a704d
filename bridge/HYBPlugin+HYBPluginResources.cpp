#include "bridge/HYBPlugin+HYBPluginResources.h"

#include "bridge/HYBPlugin.h"
#include "platform/ns/Bundle.h"

std::optional<std::string> pluginLocalizedString(const HYBPlugin& plugin, std::string_view key) {
    const std::string name = plugin.className() + ".bundle";
    // A class name that would leave the main bundle names no resource bundle of it.
    if (name.find('/') != std::string::npos || name.rfind("..", 0) == 0) return std::nullopt;
    auto bundle = ns::Bundle::bundleWithPath(ns::Bundle::mainBundle()->bundlePath() + "/" + name);
    if (!bundle) return std::nullopt;
    return bundle->localizedStringForKey(key);
}
