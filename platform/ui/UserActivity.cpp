#include "platform/ui/UserActivity.h"

#include <cstdio>

namespace ui {

namespace {
constexpr const char* kActivityTypeKey = "activityType";
constexpr const char* kWebpageURLKey = "webpageURL";
constexpr const char* kUserInfoKey = "userInfo";
}  // namespace

ns::Dictionary UserActivity::dictionaryRepresentation() const {
    ns::Dictionary result{{kActivityTypeKey, activityType_}};
    if (webpageURL_) result.emplace(kWebpageURLKey, webpageURL_->absoluteString());
    if (!userInfo_.empty()) result.emplace(kUserInfoKey, userInfo_);
    return result;
}

std::shared_ptr<UserActivity> UserActivity::fromDictionaryRepresentation(const ns::Value& value) {
    const ns::Dictionary* dict = value.dictionary();
    if (!dict) return nullptr;
    auto type = dict->find(kActivityTypeKey);
    if (type == dict->end() || !type->second.string()) return nullptr;
    auto activity = std::make_shared<UserActivity>(*type->second.string());
    if (auto url = dict->find(kWebpageURLKey); url != dict->end() && url->second.string()) {
        activity->setWebpageURL(ns::URL::parse(*url->second.string()));
    }
    if (auto info = dict->find(kUserInfoKey); info != dict->end() && info->second.dictionary()) {
        activity->setUserInfo(*info->second.dictionary());
    }
    return activity;
}

std::string UserActivity::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<UserActivity: " + std::string(address) + "> type: " + activityType_ +
           (webpageURL_ ? ", webpageURL: " + webpageURL_->absoluteString() : "");
}

}  // namespace ui
