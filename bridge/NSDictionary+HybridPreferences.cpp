#include "bridge/NSDictionary+HybridPreferences.h"

#include <cmath>

#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"

std::string hybridSettingKey(std::string_view name) {
    return ns::asciiLowercased(name);
}

const ns::Value* hybridSettingForKey(const ns::Dictionary& settings, std::string_view name) {
    auto it = settings.find(hybridSettingKey(name));
    return it == settings.end() ? nullptr : &it->second;
}

std::optional<std::string> hybridStringSettingForKey(const ns::Dictionary& settings,
                                                     std::string_view name) {
    const ns::Value* value = hybridSettingForKey(settings, name);
    if (!value || !value->isString()) return std::nullopt;
    return *value->string();
}

bool hybridBoolSettingForKey(const ns::Dictionary& settings, std::string_view name,
                             bool defaultValue) {
    const ns::Value* value = hybridSettingForKey(settings, name);
    if (!value) {
        ns::nslog("The preference key \"%@\" is not defined and will default to \"%@\"", name,
                  defaultValue ? "TRUE" : "FALSE");
        return defaultValue;
    }
    if (const std::string* text = value->string()) {
        const std::string lower = hybridSettingKey(*text);
        if (lower == "true" || lower == "1") return true;
        if (lower == "false" || lower == "0") return false;
        return defaultValue;
    }
    if (value->isBool()) return *value->boolean();
    if (std::optional<double> number = value->number()) {
        if (*number == 1) return true;
        if (*number == 0) return false;
    }
    return defaultValue;
}

double hybridFloatSettingForKey(const ns::Dictionary& settings, std::string_view name,
                                double defaultValue) {
    const ns::Value* value = hybridSettingForKey(settings, name);
    if (!value) return defaultValue;
    // Preferences are read in single precision; values beyond its range become infinite,
    // which callers that need a finite number check for.
    return static_cast<double>(static_cast<float>(value->doubleValue()));
}

void setHybridSetting(ns::Dictionary& settings, ns::Value value, std::string_view name) {
    settings.insert_or_assign(hybridSettingKey(name), std::move(value));
}
