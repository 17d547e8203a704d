#include "toolbox/Foundation/NSDK_TBXURLBuilder.h"

#include <functional>

#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ns/Value.h"
#include "toolbox/Foundation/NSDictionary+TBXNSDictionaryURLArgumentsAdditions.h"

namespace {

// The text before the query's "?". The query's place follows from the parsed components:
// the text ends with "?" query, then "#" fragment when there is one. Searching for the query
// text instead would cut at the wrong place when the same text also appears in the fragment.
std::string textBeforeQuery(const ns::URL& url) {
    const std::string& text = url.absoluteString();
    const auto& query = url.query();
    if (!query) return text;
    size_t tail = query->size() + 1;
    if (const auto& fragment = url.fragment()) tail += fragment->size() + 1;
    if (tail > text.size()) return text;
    return text.substr(0, text.size() - tail);
}

}  // namespace

std::shared_ptr<NSDK_TBXURLBuilder> NSDK_TBXURLBuilder::builderWithString(
    std::optional<std::string_view> string) {
    return std::make_shared<NSDK_TBXURLBuilder>(string);
}

std::shared_ptr<NSDK_TBXURLBuilder> NSDK_TBXURLBuilder::builderWithURL(const ns::URL& url) {
    return builderWithString(url.absoluteString());
}

NSDK_TBXURLBuilder::NSDK_TBXURLBuilder(std::optional<std::string_view> string) {
    if (!string) throw ns::Exception(ns::kInternalInconsistencyException, "URL must not be nil");
    auto url = ns::URL::parse(*string);
    if (!url) throw ns::Exception(ns::kInternalInconsistencyException, "URL is invalid");
    baseURLString_ = textBeforeQuery(*url);
    if (const auto& query = url->query()) {
        for (const auto& [key, value] : tbx_dictionaryWithHttpArgumentsString(*query)) {
            params_.emplace(key, value.stringValue());
        }
    }
}

void NSDK_TBXURLBuilder::setValue(std::string value, std::string_view parameter) {
    params_.insert_or_assign(std::string(parameter), std::move(value));
}

void NSDK_TBXURLBuilder::setIntegerValue(int64_t value, std::string_view parameter) {
    setValue(ns::format("%ld", value), parameter);
}

std::optional<std::string> NSDK_TBXURLBuilder::valueForParameter(std::string_view parameter) const {
    auto found = params_.find(parameter);
    if (found == params_.end()) return std::nullopt;
    return found->second;
}

int64_t NSDK_TBXURLBuilder::integerValueForParameter(std::string_view parameter) const {
    auto value = valueForParameter(parameter);
    return value ? ns::Value(*value).integerValue() : 0;
}

void NSDK_TBXURLBuilder::removeParameter(std::string_view parameter) {
    auto found = params_.find(parameter);
    if (found != params_.end()) params_.erase(found);
}

std::optional<ns::URL> NSDK_TBXURLBuilder::URL() const {
    if (params_.empty()) return ns::URL::parse(baseURLString_);
    ns::Dictionary arguments;
    for (const auto& [key, value] : params_) arguments.emplace(key, ns::Value(value));
    return ns::URL::parse(ns::format("%@?%@", baseURLString_, tbx_httpArgumentsString(arguments)));
}

std::optional<std::string> NSDK_TBXURLBuilder::URLString() const {
    auto url = URL();
    if (!url) return std::nullopt;
    return url->absoluteString();
}

bool NSDK_TBXURLBuilder::isEqual(const NSDK_TBXURLBuilder* other) const {
    return other && baseURLString_ == other->baseURLString_ && params_ == other->params_;
}

size_t NSDK_TBXURLBuilder::hash() const {
    size_t paramsHash = params_.size();
    for (const auto& [key, value] : params_) {
        paramsHash = paramsHash * 31 + std::hash<std::string>{}(key);
        paramsHash = paramsHash * 31 + std::hash<std::string>{}(value);
    }
    return 17 * std::hash<std::string>{}(baseURLString_) + 37 * paramsHash;
}
