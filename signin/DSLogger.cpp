#include "signin/DSLogger.h"

#include <atomic>
#include <ctime>
#include <mutex>

#include "platform/ns/Exception.h"
#include "platform/ns/Log.h"
#include "platform/ui/Device.h"
#include "signin/DSStringHelpers.h"

namespace {

constexpr const char* kSalVersion = "2.3.1";
constexpr int64_t kInvalidArgumentCode = 100;

std::atomic<DSLogLevel> gMaxLevel{DS_LOG_LEVEL_ERROR};
std::atomic<bool> gNSLogging{true};

// Serialises level test, line building, output and callback; the callback may log again.
std::recursive_mutex& classLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex();
    return *lock;
}

DSLogCallback& callbackSlot() {
    static DSLogCallback* callback = new DSLogCallback();
    return *callback;
}

const std::string& operatingSystemText() {
    static const std::string* text =
        new std::string(ns::format("iOS %@", ui::Device::current().systemVersion()));
    return *text;
}

struct Identification {
    std::mutex mutex;
    std::optional<ns::Dictionary> headers;
};

Identification& identification() {
    static Identification* id = new Identification();
    return *id;
}

ns::Dictionary& builtHeaders(Identification& id) {
    if (!id.headers) {
        ns::Dictionary headers{{"x-client-SKU", "iOS"},
                               {"x-client-Ver", kSalVersion},
                               {"x-client-OS", ui::Device::current().systemVersion()},
                               {"x-client-DM", ui::Device::current().model()}};
        std::optional<std::string> cpu = DSLogger::getCPUInfo();
        if (!dsIsStringNilOrBlank(cpu)) headers["x-client-CPU"] = *cpu;
        id.headers = std::move(headers);
    }
    return *id.headers;
}

std::string utcDateText() {
    const double seconds = ns::Date::now().timeIntervalSince1970();
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

ns::LogLevel systemLevel(DSLogLevel level) {
    if (level == DS_LOG_LEVEL_ERROR) return ns::LogLevel::Error;
    if (level == DS_LOG_LEVEL_VERBOSE) return ns::LogLevel::Debug;
    return ns::LogLevel::Default;
}

}  // namespace

void DSLogger::setLevel(DSLogLevel level) {
    gMaxLevel = level;
}

bool DSLogger::isEnabled(DSLogLevel level) {
    return level != DS_LOG_LEVEL_NONE && level <= gMaxLevel;
}

DSLogLevel DSLogger::getLevel() {
    return gMaxLevel;
}

void DSLogger::setNSLogging(bool on) {
    gNSLogging = on;
}

bool DSLogger::getNSLogging() {
    return gNSLogging;
}

void DSLogger::setLogCallBack(DSLogCallback callback) {
    std::lock_guard lock(classLock());
    callbackSlot() = std::move(callback);
}

DSLogCallback DSLogger::getLogCallBack() {
    std::lock_guard lock(classLock());
    return callbackSlot();
}

std::string DSLogger::stringForLevel(DSLogLevel level) {
    switch (level) {
        case DS_LOG_LEVEL_NONE:
            return "NONE";
        case DS_LOG_LEVEL_ERROR:
            return "ERROR";
        case DS_LOG_LEVEL_WARN:
            return "WARNING";
        case DS_LOG_LEVEL_INFO:
            return "INFO";
        case DS_LOG_LEVEL_VERBOSE:
            return "VERBOSE";
        default:
            return "UNKNOWN";
    }
}

void DSLogger::log(DSLogLevel level, const DSLogContext* context,
                   const std::optional<std::string>& message, int64_t errorCode,
                   const std::optional<std::string>& info,
                   const std::optional<ns::UUID>& correlationId, const ns::Dictionary* userInfo) {
    if (level == DS_LOG_LEVEL_NONE || !message) return;
    std::lock_guard lock(classLock());
    const bool toSystemLog = gNSLogging;
    if (level > gMaxLevel || (!callbackSlot() && !toSystemLog)) return;

    std::string componentPart;
    if (context) {
        if (std::optional<std::string> component = context->component())
            componentPart = ns::format(" [%@]", *component);
    }
    const std::string correlationPart =
        correlationId ? ns::format(" - %@", correlationId->UUIDString()) : std::string();
    const std::string date = utcDateText();
    if (toSystemLog) {
        ns::Log::write(systemLevel(level), "signin", {},
                       ns::format("SAL 2.3.1 %@ [%@%@]%@ %@: %@", operatingSystemText(), date,
                                  correlationPart, componentPart, stringForLevel(level), *message));
    }
    if (const DSLogCallback& callback = callbackSlot()) {
        callback(level,
                 ns::format("SAL 2.3.1 %@ [%@%@]%@ %@", operatingSystemText(), date,
                            correlationPart, componentPart, *message),
                 info, errorCode, userInfo);
    }
}

std::optional<std::string> DSLogger::getHash(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    // Digested up to the first zero byte, as a C string would be.
    const std::string_view bytes(text->c_str());
    return dsComputeSHA256(bytes).substr(0, 7);
}

void DSLogger::logToken(const std::optional<std::string>& token, std::string_view tokenType,
                        const std::optional<ns::Date>& expiresOn,
                        const std::optional<std::string>& context,
                        const std::optional<ns::UUID>& correlationId) {
    std::string text;
    if (context) text += ns::format("%@ ", *context);
    text += ns::format("%@ (%@)", tokenType, getHash(token).value_or("(null)"));
    if (expiresOn) text += ns::format(" expires on %@", *expiresOn);
    log(DS_LOG_LEVEL_INFO, nullptr, text, 0, std::nullopt, correlationId);
}

ns::Dictionary DSLogger::salId() {
    Identification& id = identification();
    std::lock_guard lock(id.mutex);
    return builtHeaders(id);
}

void DSLogger::setIdValue(const std::string& value, const std::string& key) {
    Identification& id = identification();
    std::lock_guard lock(id.mutex);
    builtHeaders(id)[key] = value;
}

void DSLogger::setSalVersion(const std::string& version) {
    Identification& id = identification();
    std::lock_guard lock(id.mutex);
    if (id.headers) (*id.headers)["x-client-Ver"] = version;
}

std::string DSLogger::getSalVersion() {
    return kSalVersion;
}

std::optional<std::string> DSLogger::getCPUInfo() {
    return sizeof(void*) == 8 ? "64" : "32";
}

std::string DSLogger::functionAndLine(const DSCodeLocation& where) {
    return ns::format("In function: %s, file line #%u", where.function, where.line);
}

void DSLogger::logInvalidArgument(std::string_view message,
                                  const std::optional<ns::UUID>& correlationId,
                                  DSCodeLocation where) {
    log(DS_LOG_LEVEL_ERROR, nullptr, std::string(message), kInvalidArgumentCode,
        functionAndLine(where), correlationId);
}

void DSLogger::raiseInvalidArgument(std::string_view argument, DSCodeLocation where) {
    logInvalidArgument(ns::format("InvalidArgumentException: %@", argument), std::nullopt, where);
    throw ns::Exception(ns::kInvalidArgumentException,
                        ns::format("Please provide a valid '%@' parameter.", argument));
}

void DSLogger::logAPIEntry(DSCodeLocation where) {
    if (!isEnabled(DS_LOG_LEVEL_VERBOSE)) return;
    log(DS_LOG_LEVEL_VERBOSE, nullptr, ns::format("SAL API call [Version - %@]", getSalVersion()),
        0, functionAndLine(where), std::nullopt);
}
