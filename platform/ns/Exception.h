#pragma once

#include <exception>
#include <memory>
#include <string>

namespace ns {

class Dictionary;

// Names of the platform's standard exceptions.
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kRangeException = "NSRangeException";
inline constexpr const char* kGenericException = "NSGenericException";

// A programming fault that the platform would raise. It never crosses the bridge to the page.
//
// The scheduling core raises these too and sits below the values, so this header needs nothing
// but the standard library: the user info is held by pointer and only the constructor that
// takes one, and its accessor, live with the values.
class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason)
        : name_(std::move(name)), reason_(std::move(reason)) {}
    Exception(std::string name, std::string reason, Dictionary userInfo);

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Dictionary& userInfo() const;
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::string name_;
    std::string reason_;
    std::shared_ptr<const Dictionary> userInfo_;
};

}  // namespace ns
