#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Error.h"
#include "platform/ns/Value.h"
#include "sdk/analytics/NEBALogging.h"
#include "sdk/analytics/NEBAMonitoringSampledData.h"

// One context object of a log call: none, a value, or an error.
using NEBALogContext = std::variant<std::monostate, ns::Value, ns::Error>;

inline constexpr const char* kNEBAHealthMonitorKey = "/nebula/measurement/health_monitor";
inline constexpr const char* kNEBADebugModeKey = "/nebula/measurement/debug_mode";
inline constexpr const char* kNEBADebugEnabledArgument = "-NEBAnalyticsDebugEnabled";
inline constexpr const char* kNEBADebugDisabledArgument = "-noNEBAnalyticsDebugEnabled";

// The analytics logger. Messages that are not only sampled are printed up to the log level
// (Info, Debug in debug mode); the sampled ones go into a tiny health record that one bundle
// per period carries, so that the service learns which errors happen in the field without
// receiving every one. Output and sampling run in order on the serial queue
// "NEBAMonitorQueue"; callers never wait for them.
class NEBAMonitor {
public:
    explicit NEBAMonitor(int64_t libraryVersion);
    NEBAMonitor(int64_t logLevel, std::shared_ptr<NEBALogging> logger, int64_t libraryVersion);
    ~NEBAMonitor();
    NEBAMonitor(const NEBAMonitor&) = delete;
    NEBAMonitor& operator=(const NEBAMonitor&) = delete;

    // The process's monitor; one with library version 0 until the engine installs its own.
    static std::shared_ptr<NEBAMonitor> shared();
    // Answers the monitor it replaces.
    static std::shared_ptr<NEBAMonitor> setShared(std::shared_ptr<NEBAMonitor> monitor);

    void logWithLevel(int64_t level, std::string_view message,
                      const std::vector<NEBALogContext>& contexts = {});
    // Logs through the process's monitor; the usual levels by name.
    static void log(int64_t level, std::string_view message,
                    const std::vector<NEBALogContext>& contexts = {}) {
        shared()->logWithLevel(level, message, contexts);
    }
    static void error(std::string_view message, const std::vector<NEBALogContext>& contexts = {}) {
        log(NEBALogLevel::Error, message, contexts);
    }
    static void warning(std::string_view message,
                        const std::vector<NEBALogContext>& contexts = {}) {
        log(NEBALogLevel::Warning, message, contexts);
    }
    static void info(std::string_view message, const std::vector<NEBALogContext>& contexts = {}) {
        log(NEBALogLevel::Info, message, contexts);
    }
    static void debug(std::string_view message, const std::vector<NEBALogContext>& contexts = {}) {
        log(NEBALogLevel::Debug, message, contexts);
    }

    int64_t logLevel() const { return logLevel_; }
    void setLogLevel(int64_t level) { logLevel_ = level; }
    bool isDebugModeEnabled() const { return debugMode_; }
    void setIsDebugModeEnabled(bool enabled);
    bool encodeContexts() const { return encodeContexts_; }
    void setEncodeContexts(bool encode) { encodeContexts_ = encode; }
    int64_t libraryVersion() const { return libraryVersion_; }

    // Waits for the output and samples queued so far.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(
        double samplePeriod, double lastSampledTimestamp);
    void clearMonitoringData();
    // Waits until every line and sample queued so far has been handled.
    void flush();

    static std::string logLevelDescriptionFromLogLevel(int64_t level) {
        return NEBALogLevelFacts::of(level).description;
    }
    static bool isSilentLevel(int64_t level) { return NEBALogLevelFacts::of(level).silent; }
    static bool isMonitorableLevel(int64_t level) {
        return NEBALogLevelFacts::of(level).monitorable;
    }
    static std::string encodedStringWithContextArray(const std::vector<NEBALogContext>& contexts,
                                                     bool insertSpaces);
    static std::string encodedStringWithContextObject(const NEBALogContext& context);
    static std::string stringWithLogMessage(std::string_view message, int64_t level,
                                            const std::vector<NEBALogContext>& contexts,
                                            bool encodeContexts, std::string_view tag);
    static std::string monitoringDataKeyWithMessage(std::string_view message, int64_t level,
                                                    int64_t libraryVersion);

private:
    void saveSampledData();

    std::atomic<int64_t> logLevel_;
    int64_t libraryVersion_;
    std::atomic<bool> encodeContexts_{false};
    std::atomic<bool> debugMode_{false};
    std::atomic<bool> savePending_{false};
    const std::shared_ptr<NEBALogging> logger_;
    NEBAMonitoringSampledData sampled_;  // on the queue only
    std::shared_ptr<dispatch::Queue> queue_;
};
