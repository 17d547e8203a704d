#pragma once

#include <cstdint>
#include <string>

// One queued file waiting for upload: its log source, account and path.
class NEBLogbookRequest {
public:
    NEBLogbookRequest(int32_t logSource, std::string account, std::string path)
        : logSource_(logSource), account_(std::move(account)), path_(std::move(path)) {}

    int32_t logSource() const { return logSource_; }
    const std::string& account() const { return account_; }
    const std::string& path() const { return path_; }

private:
    int32_t logSource_;
    std::string account_;
    std::string path_;
};
