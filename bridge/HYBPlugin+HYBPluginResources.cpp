#include "bridge/HYBPlugin+HYBPluginResources.h"

#include "bridge/HYBPlugin.h"
#include "platform/ns/Bundle.h"
#include "platform/ui/Image.h"

namespace {

// "<class>.bundle", or nothing for a class name that would leave the main bundle.
std::optional<std::string> resourceBundleName(const HYBPlugin& plugin) {
    const std::string name = plugin.className() + ".bundle";
    if (name.find('/') != std::string::npos || name.rfind("..", 0) == 0) return std::nullopt;
    return name;
}

}  // namespace

std::optional<std::string> pluginLocalizedString(const HYBPlugin& plugin, std::string_view key) {
    auto found = resourceBundleName(plugin);
    if (!found) return std::nullopt;
    const std::string& name = *found;
    auto bundle = ns::Bundle::bundleWithPath(ns::Bundle::mainBundle()->bundlePath() + "/" + name);
    if (!bundle) return std::nullopt;
    return bundle->localizedStringForKey(key);
}

std::shared_ptr<ui::Image> pluginImageResource(const HYBPlugin& plugin, std::string_view name) {
    auto bundle = resourceBundleName(plugin);
    if (!bundle) return nullptr;
    // The image name may name a folder of the resource bundle, never a way out of it.
    return ui::Image::imageNamed(*bundle + "/" + std::string(name));
}
