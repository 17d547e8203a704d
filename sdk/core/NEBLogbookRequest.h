#pragma once

#include <cstdint>
#include <string>

// One queued file waiting for upload: its log source, account and path.
struct NEBLogbookRequest {
    int32_t logSource;
    std::string account;
    std::string path;
};
