#pragma once

#include <optional>
#include <string>
#include <string_view>

class HYBPlugin;

// The localized string for the key from the resource bundle named after the plug-in's class
// ("<class>.bundle" in the main bundle, default table); nothing when there is no such bundle.
std::optional<std::string> pluginLocalizedString(const HYBPlugin& plugin, std::string_view key);
