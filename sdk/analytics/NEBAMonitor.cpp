#include "sdk/analytics/NEBAMonitor.h"

#include "platform/dispatch/Clock.h"
#include "platform/ns/Format.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/UserDefaults.h"
#include "sdk/analytics/NEBAASLLogger.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBLogPipeline.h"

namespace {

using SharedMonitor = ns::ReplaceableShared<NEBAMonitor>;

// Only the order of magnitude of a number leaves the device: the number of its decimal
// digits, written as the range it lies in. Counted on the unsigned magnitude, so that
// INT64_MIN and values of 19 digits neither overflow nor lose digits to floating point.
std::string encodedInteger(int64_t v) {
    if (v >= -99 && v <= 99) return std::to_string(v);
    uint64_t magnitude = v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    size_t digits = std::to_string(magnitude).size();
    std::string low = "1" + std::string(digits - 1, '0');
    std::string high(digits, '9');
    if (v > 0) return low + "..." + high;
    return "-" + high + "...-" + low;
}

std::string describedContext(const NEBALogContext& context) {
    if (const auto* value = std::get_if<ns::Value>(&context)) {
        return value->isNull() ? std::string("(nil)") : value->description();
    }
    if (const auto* error = std::get_if<ns::Error>(&context)) return error->description();
    return "(nil)";
}

}  // namespace

NEBAMonitor::NEBAMonitor(int64_t libraryVersion)
    : NEBAMonitor(NEBALogLevel::Info, std::make_shared<NEBAASLLogger>(7), libraryVersion) {}

NEBAMonitor::NEBAMonitor(int64_t logLevel, std::shared_ptr<NEBALogging> logger,
                         int64_t libraryVersion)
    : logLevel_(logLevel),
      libraryVersion_(libraryVersion),
      logger_(std::move(logger)),
      sampled_(ns::UserDefaults::standardUserDefaults()->objectForKey(kNEBAHealthMonitorKey)),
      queue_(dispatch::Queue::createSerial("NEBAMonitorQueue")) {
    if (auto mode = NEBLaunchDebugMode(kNEBADebugModeKey, kNEBADebugEnabledArgument,
                                       kNEBADebugDisabledArgument)) {
        setIsDebugModeEnabled(*mode);
    }
}

NEBAMonitor::~NEBAMonitor() {
    // Lines already handed over are written before the queue goes.
    flush();
}

std::shared_ptr<NEBAMonitor> NEBAMonitor::shared() {
    return SharedMonitor::get([] { return std::make_shared<NEBAMonitor>(0); });
}

std::shared_ptr<NEBAMonitor> NEBAMonitor::setShared(std::shared_ptr<NEBAMonitor> monitor) {
    return SharedMonitor::exchange(std::move(monitor));
}

void NEBAMonitor::setIsDebugModeEnabled(bool enabled) {
    // In debug mode every line reaches the system log as a warning or more urgent.
    if (auto asl = std::dynamic_pointer_cast<NEBAASLLogger>(logger_))
        asl->setMaxASLLevel(enabled ? 4 : 7);
    logLevel_ = enabled ? NEBALogLevel::Debug : NEBALogLevel::Info;
    debugMode_ = enabled;
    auto defaults = ns::UserDefaults::standardUserDefaults();
    if (enabled) {
        defaults->setBool(kNEBADebugModeKey, true);
    } else {
        defaults->removeObjectForKey(kNEBADebugModeKey);
    }
    logWithLevel(NEBALogLevel::Debug, enabled ? "Debug mode is on" : "Debug mode is off");
}

void NEBAMonitor::logWithLevel(int64_t level, std::string_view message,
                               const std::vector<NEBALogContext>& contexts) {
    bool loggable = level <= logLevel_ && !isSilentLevel(level);
    bool monitorable = isMonitorableLevel(level);
    if (!loggable && !monitorable) return;
    // The queue's blocks may use this object: it waits for them before it goes.
    if (loggable && logger_) {
        auto line = stringWithLogMessage(message, level, contexts, encodeContexts_, "NEBAnalytics");
        queue_->async([this, line = std::move(line), level] { logger_->logMessage(line, level); });
    }
    if (monitorable) {
        auto encoded = encodedStringWithContextArray(contexts, false);
        for (const auto& context : contexts) {
            const auto* error = std::get_if<ns::Error>(&context);
            if (auto text = error ? neba_monitorContext(*error) : ""; !text.empty())
                encoded += "," + text;
        }
        auto key = monitoringDataKeyWithMessage(message, level, libraryVersion_);
        double now = dispatch::Clock::current().wallTime();
        queue_->async([this, key = std::move(key), encoded = std::move(encoded), now] {
            sampled_.insertOrUpdateSampledDataWithKey(key, encoded, now);
            // One flush to disk covers every update queued before it runs: a burst of errors
            // costs one write, not one each, and the queue cannot grow behind the disk.
            if (savePending_.exchange(true)) return;
            queue_->async([this] {
                savePending_ = false;
                saveSampledData();
            });
        });
    }
}

void NEBAMonitor::saveSampledData() {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObject(kNEBAHealthMonitorKey, sampled_.sampledData());
    defaults->synchronize();
}

std::optional<std::string> NEBAMonitor::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
    return queue_->sync([&]() -> std::optional<std::string> {
        const bool hadSample = !sampled_.sampledData().isNull();
        auto text =
            sampled_.monitoringDataForDispatchWithSamplePeriod(samplePeriod, lastSampledTimestamp);
        if (hadSample && text) saveSampledData();
        return text;
    });
}

void NEBAMonitor::clearMonitoringData() {
    queue_->sync([&] {
        auto defaults = ns::UserDefaults::standardUserDefaults();
        defaults->removeObjectForKey(kNEBADebugModeKey);
        defaults->removeObjectForKey(kNEBAHealthMonitorKey);
        sampled_ = NEBAMonitoringSampledData(ns::Value());
    });
}

void NEBAMonitor::flush() {
    if (queue_->isCurrent()) return;
    // The first pass runs every update queued so far; the saves those updates queued behind
    // it run in the second.
    queue_->sync([] {});
    queue_->sync([] {});
}

std::string NEBAMonitor::encodedStringWithContextObject(const NEBALogContext& context) {
    if (const auto* error = std::get_if<ns::Error>(&context)) {
        return error->domain().empty() ? std::string("-") : error->domain();
    }
    const auto* value = std::get_if<ns::Value>(&context);
    if (!value || value->isNull()) return {};
    if (value->isString()) return "-";  // never reveal text
    // A double's integer value saturates rather than overflowing.
    if (value->isBool() || value->isDouble()) return encodedInteger(value->integerValue());
    if (value->isInteger()) {
        auto exact = value->int64();
        return encodedInteger(exact ? *exact : INT64_MAX);
    }
    return "?";
}

std::string NEBAMonitor::encodedStringWithContextArray(const std::vector<NEBALogContext>& contexts,
                                                       bool insertSpaces) {
    std::string out;
    for (size_t i = 0; i < contexts.size(); ++i) {
        if (i > 0) out += insertSpaces ? ", " : ",";
        out += encodedStringWithContextObject(contexts[i]);
    }
    return out;
}

std::string NEBAMonitor::stringWithLogMessage(std::string_view message, int64_t level,
                                              const std::vector<NEBALogContext>& contexts,
                                              bool encodeContexts, std::string_view tag) {
    std::vector<std::string> described;
    for (const auto& context : contexts) {
        described.push_back(encodeContexts ? encodedStringWithContextObject(context)
                                           : describedContext(context));
    }
    return NEBLogTaggedLine(tag.empty() ? "NEBAnalytics" : tag,
                            logLevelDescriptionFromLogLevel(level), message, described);
}

std::string NEBAMonitor::monitoringDataKeyWithMessage(std::string_view message, int64_t level,
                                                      int64_t libraryVersion) {
    return ns::format("%@%c_%lld:%@", std::string("1"), NEBALogLevelFacts::of(level).sampleLetter,
                      static_cast<long long>(libraryVersion), std::string(message));
}
