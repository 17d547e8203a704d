#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "signin/DSLogger.h"
#include "signin/DSRequestContext.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSUserInformation.h"
#include "tests/support/NsPrinters.h"

namespace signintest {

// The library's log lines while it lives (every level), restoring the logger afterwards.
class ScopedLogLines {
public:
    struct Line {
        DSLogLevel level;
        std::string message;
        std::optional<std::string> info;
        int64_t code;
    };

    ScopedLogLines() : level_(DSLogger::getLevel()), nsLogging_(DSLogger::getNSLogging()) {
        DSLogger::setLevel(DS_LOG_LEVEL_VERBOSE);
        DSLogger::setNSLogging(false);
        DSLogger::setLogCallBack([this](DSLogLevel level, const std::string& message,
                                        const std::optional<std::string>& info, int64_t code,
                                        const ns::Dictionary*) {
            std::lock_guard lock(mutex_);
            lines_.push_back({level, message, info, code});
        });
    }
    ~ScopedLogLines() {
        DSLogger::setLogCallBack(nullptr);
        DSLogger::setLevel(level_);
        DSLogger::setNSLogging(nsLogging_);
    }

    std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(std::string_view text) const {
        size_t n = 0;
        for (const Line& line : lines()) {
            if (line.message.find(text) != std::string::npos ||
                (line.info && line.info->find(text) != std::string::npos))
                ++n;
        }
        return n;
    }
    bool anyContains(std::string_view text) const { return count(text) > 0; }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    DSLogLevel level_;
    bool nsLogging_;
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

class TestContext : public DSRequestContext {
public:
    explicit TestContext(std::string requestId = "req-1") : requestId_(std::move(requestId)) {}
    std::optional<ns::UUID> correlationId() const override { return correlationId_; }
    std::optional<std::string> telemetryRequestId() const override { return requestId_; }

private:
    ns::UUID correlationId_;
    std::string requestId_;
};

// An id_token whose header and payload are these JSON objects, with a signature segment.
inline std::string idToken(const ns::Value& header, const ns::Value& payload) {
    return adBase64UrlEncode(*ns::JSONSerialization::write(header)) + "." +
           adBase64UrlEncode(*ns::JSONSerialization::write(payload)) + "." +
           adBase64UrlEncodeData("\xff\xfe\xfd");  // binary, as a real signature
}

inline std::string idTokenFor(const std::string& upn) {
    return idToken(ns::Value::dict({{"typ", "JWT"}}),
                   ns::Value::dict({{"upn", upn}, {"oid", "oid-" + upn}}));
}

inline constexpr const char* kAuthority = "https://login.directory.example/tenant.example";

inline std::shared_ptr<DSTokenCacheItem> tokenItem(const std::optional<std::string>& user,
                                                   const std::optional<std::string>& resource,
                                                   const std::string& clientId = "client-1",
                                                   const std::string& tokens = "1") {
    auto item = std::make_shared<DSTokenCacheItem>();
    item->setAuthority(kAuthority);
    item->setResource(resource);
    item->setClientId(clientId);
    if (resource) item->setAccessToken("at-" + tokens);
    item->setRefreshToken("rt-" + tokens);
    item->setAccessTokenType("Bearer");
    item->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(3600));
    if (user) item->setUserInformation(DSUserInformation::initWithIdToken(idTokenFor(*user)));
    return item;
}

}  // namespace signintest
