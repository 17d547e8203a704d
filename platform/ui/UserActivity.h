#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"

namespace ui {

// The activity type of a web page handed over to the application (a universal link).
inline constexpr const char* kUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

// An activity that the system asks the application to continue: its type, and for web
// browsing the page's URL.
class UserActivity : public ns::Object {
public:
    explicit UserActivity(std::string activityType = {}) : activityType_(std::move(activityType)) {}

    const std::string& activityType() const { return activityType_; }
    const std::optional<ns::URL>& webpageURL() const { return webpageURL_; }
    void setWebpageURL(std::optional<ns::URL> url) { webpageURL_ = std::move(url); }
    const ns::Dictionary& userInfo() const { return userInfo_; }
    void setUserInfo(ns::Dictionary userInfo) { userInfo_ = std::move(userInfo); }

    // Launch options are plain values, so an activity travels in them as a dictionary:
    // "activityType", and "webpageURL" (absolute string) and "userInfo" when set.
    ns::Dictionary dictionaryRepresentation() const;
    // Null unless the value is a dictionary with a string "activityType"; a "webpageURL"
    // that is not a valid URL is left out.
    static std::shared_ptr<UserActivity> fromDictionaryRepresentation(const ns::Value& value);

    std::string description() const override;

private:
    std::string activityType_;
    std::optional<ns::URL> webpageURL_;
    ns::Dictionary userInfo_;
};

}  // namespace ui
