#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

// Readers of the config.xml preferences: names are looked up lower-cased, so that a
// preference matches whatever letter case config.xml or the caller uses.

// The name with ASCII letters lower-cased: the key under which settings are stored.
std::string hybridSettingKey(std::string_view name);

// The value stored under the lower-cased name, or nullptr.
const ns::Value* hybridSettingForKey(const ns::Dictionary& settings, std::string_view name);
// The value stored under the lower-cased name when it is a string; nothing otherwise.
std::optional<std::string> hybridStringSettingForKey(const ns::Dictionary& settings,
                                                     std::string_view name);

// "true"/"1" (any case) and numbers equal to 1 give true, "false"/"0" and numbers equal to 0
// give false; any other value gives the default. An absent name gives the default after the
// log line: The preference key "<name>" is not defined and will default to "TRUE"|"FALSE".
bool hybridBoolSettingForKey(const ns::Dictionary& settings, std::string_view name,
                             bool defaultValue);

// The number the value starts with, read in single precision (a string without a leading
// number reads as 0); the default, without a log line, when the name is absent.
double hybridFloatSettingForKey(const ns::Dictionary& settings, std::string_view name,
                                double defaultValue);

// Stores the value under the lower-cased name.
void setHybridSetting(ns::Dictionary& settings, ns::Value value, std::string_view name);
