#pragma once

#include <memory>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

// One observed change as the observing centre hands it to an observer's selector.
class NSDK_TBXKeyValueChangeNotification : public ns::Object {
public:
    NSDK_TBXKeyValueChangeNotification(std::string keyPath, std::shared_ptr<ns::Object> object,
                                       ns::Value userInfo, ns::Dictionary change)
        : keyPath_(std::move(keyPath)),
          object_(std::move(object)),
          userInfo_(std::move(userInfo)),
          change_(std::move(change)) {}

    const std::string& keyPath() const { return keyPath_; }
    const std::shared_ptr<ns::Object>& object() const { return object_; }
    const ns::Value& userInfo() const { return userInfo_; }
    const ns::Dictionary& change() const { return change_; }

    std::shared_ptr<NSDK_TBXKeyValueChangeNotification> copy() const {
        return std::make_shared<NSDK_TBXKeyValueChangeNotification>(*this);
    }
    // Equal key paths, the same object, equal user information and changes.
    bool isEqual(const NSDK_TBXKeyValueChangeNotification* other) const;
    size_t hash() const;
    std::string description() const override;

    NSDK_TBXKeyValueChangeNotification(const NSDK_TBXKeyValueChangeNotification&) = default;

private:
    std::string keyPath_;
    std::shared_ptr<ns::Object> object_;
    ns::Value userInfo_;
    ns::Dictionary change_;
};
