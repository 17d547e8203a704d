#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"
#include "platform/ns/URL.h"

// A base URL and a changeable set of query parameters, put together into a URL on demand.
class NSDK_TBXURLBuilder : public ns::Object {
public:
    using Parameters = std::map<std::string, std::string, std::less<>>;

    // Throws ns::Exception (NSInternalInconsistencyException) "URL must not be nil" for no
    // string and "URL is invalid" for one that is not a URL. The base is the URL without its
    // query (and what follows it); the parameters are the query's arguments.
    static std::shared_ptr<NSDK_TBXURLBuilder> builderWithString(
        std::optional<std::string_view> string);
    static std::shared_ptr<NSDK_TBXURLBuilder> builderWithURL(const ns::URL& url);
    explicit NSDK_TBXURLBuilder(std::optional<std::string_view> string);

    const std::string& baseURLString() const { return baseURLString_; }

    void setValue(std::string value, std::string_view parameter);
    void setIntegerValue(int64_t value, std::string_view parameter);
    std::optional<std::string> valueForParameter(std::string_view parameter) const;
    // The stored text's integer value; 0 when absent.
    int64_t integerValueForParameter(std::string_view parameter) const;
    void removeParameter(std::string_view parameter);
    void setParameters(Parameters parameters) { params_ = std::move(parameters); }
    Parameters& parameters() { return params_; }
    const Parameters& parameters() const { return params_; }

    // The base alone without parameters, else base "?" arguments; nothing when that text is
    // not a URL.
    std::optional<ns::URL> URL() const;
    std::optional<std::string> URLString() const;

    // Equal base texts and equal parameters, whatever order they were set in.
    bool isEqual(const NSDK_TBXURLBuilder* other) const;
    bool operator==(const NSDK_TBXURLBuilder& other) const { return isEqual(&other); }
    size_t hash() const;

private:
    std::string baseURLString_;
    Parameters params_;
};
