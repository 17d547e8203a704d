#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class HYBPlugin;
namespace ui {
class Image;
}

// The localized string for the key from the resource bundle named after the plug-in's class
// ("<class>.bundle" in the main bundle, default table); nothing when there is no such bundle.
std::optional<std::string> pluginLocalizedString(const HYBPlugin& plugin, std::string_view key);

// The named image "<class>.bundle/<name>" of the main bundle; null when there is none (and for
// a class name or image name that would leave the main bundle).
std::shared_ptr<ui::Image> pluginImageResource(const HYBPlugin& plugin, std::string_view name);
