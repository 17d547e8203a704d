#include "toolbox/Foundation/NSDK_TBXKeyValueChangeNotification.h"

#include <functional>

#include "platform/ns/Format.h"

bool NSDK_TBXKeyValueChangeNotification::isEqual(
    const NSDK_TBXKeyValueChangeNotification* other) const {
    return other && keyPath_ == other->keyPath_ && object_ == other->object_ &&
           userInfo_ == other->userInfo_ && change_ == other->change_;
}

size_t NSDK_TBXKeyValueChangeNotification::hash() const {
    std::hash<std::string> text;
    return text(keyPath_) + std::hash<const void*>{}(object_.get()) +
           text(userInfo_.description()) + text(ns::Value(change_).description());
}

std::string NSDK_TBXKeyValueChangeNotification::description() const {
    return ns::format("%@ <object = %@ keypath = %@ userInfo = %@ change = %@>",
                      "NSDK_TBXKeyValueChangeNotification", object_, keyPath_, userInfo_,
                      ns::Value(change_));
}
