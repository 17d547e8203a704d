#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "platform/ns/UserDefaults.h"
#include "toolbox/Foundation/TBXLogLevel.h"

// Environment variable and user-defaults key that turn info lines on.
inline constexpr const char* kTBXVerboseLoggingKey = "TBXVerboseLogging";

// Drops debug lines, keeps info lines only in verbose mode, keeps everything else. Verbose
// mode follows the environment variable "TBXVerboseLogging" when it is set, otherwise the
// standard user defaults' boolean of that key, which is watched for changes.
class NSDK_TBXLogLevelFilter : public TBXLogFilter {
public:
    NSDK_TBXLogLevelFilter();
    ~NSDK_TBXLogLevelFilter() override;
    NSDK_TBXLogLevelFilter(const NSDK_TBXLogLevelFilter&) = delete;
    NSDK_TBXLogLevelFilter& operator=(const NSDK_TBXLogLevelFilter&) = delete;

    bool filterAllowsMessage(std::string_view message, TBXLogLevel level) const override;

    // An environment value turns verbose mode on when, trimmed and upper-cased, it begins
    // with "Y" or "T", or its integer value is not 0.
    static bool environmentValueMeansYes(std::string_view value);

private:
    bool computeVerbose() const;

    std::shared_ptr<ns::UserDefaults> userDefaults_;
    std::atomic<bool> verboseLoggingEnabled_{false};
};
