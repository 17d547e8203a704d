#pragma once

#include <exception>
#include <string>

#include "platform/ns/Value.h"

namespace ns {

// Names of the platform's standard exceptions.
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kRangeException = "NSRangeException";
inline constexpr const char* kGenericException = "NSGenericException";

// A programming fault that the platform would raise. It never crosses the bridge to the page.
class Exception : public std::exception {
  public:
    Exception(std::string name, std::string reason, Dictionary userInfo = {})
        : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Dictionary& userInfo() const { return userInfo_; }
    const char* what() const noexcept override { return reason_.c_str(); }

  private:
    std::string name_;
    std::string reason_;
    Dictionary userInfo_;
};

}  // namespace ns
