#pragma once

#include <cstdint>

// Instance identity's settings: the logger's level and whether messaging-scope tokens may be
// fetched without a push-service device token. A plain value: copies are independent.
class NEBInstanceIDConfig {
public:
    explicit NEBInstanceIDConfig(int8_t logLevel) : logLevel_(logLevel) {}
    // Level 2 (error and assert lines only), device token required.
    static NEBInstanceIDConfig defaultConfig() { return NEBInstanceIDConfig(2); }

    int8_t logLevel() const { return logLevel_; }
    void setLogLevel(int8_t level) { logLevel_ = level; }
    bool allowMissingAPNSToken() const { return allowMissingAPNSToken_; }
    void setAllowMissingAPNSToken(bool allow) { allowMissingAPNSToken_ = allow; }
    bool allowMSGRegistrationWithoutAPNSToken() const { return allowMissingAPNSToken_; }
    void setAllowMSGRegistrationWithoutAPNSToken(bool allow) { allowMissingAPNSToken_ = allow; }

private:
    int8_t logLevel_;
    bool allowMissingAPNSToken_ = false;
};
