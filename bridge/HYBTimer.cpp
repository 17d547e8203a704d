#include "bridge/HYBTimer.h"

#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/ns/Log.h"

HYBTimer& HYBTimer::sharedInstance() {
    static HYBTimer* const instance = new HYBTimer();
    return *instance;
}

void HYBTimer::add(std::string_view name) {
    std::string key = hybridSettingKey(name);
    if (items_.contains(key)) {
        ns::nslog("Timer called '%@' already exists.", name);
        return;
    }
    auto item = std::make_shared<HYBTimerItem>();
    item->setName(std::string(name));
    item->setStarted(ns::Date::now());
    items_.emplace(std::move(key), std::move(item));
}

void HYBTimer::remove(std::string_view name) {
    auto it = items_.find(hybridSettingKey(name));
    if (it == items_.end()) {
        ns::nslog("Timer called '%@' does not exist.", name);
        return;
    }
    it->second->setEnded(ns::Date::now());
    it->second->log();
    items_.erase(it);
}

void HYBTimer::removeAll() {
    items_.clear();
}
