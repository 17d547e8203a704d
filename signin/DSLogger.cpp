#include "signin/DSLogger.h"

#include <atomic>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Log.h"
#include "platform/sec/Digest.h"
#include "platform/ui/Device.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSStringHelpers.h"

namespace {

constexpr const char* kSalVersion = "2.3.1";

// The logger's class-wide state, never destroyed: lines may be logged during exit.
struct State {
    std::atomic<DSLogLevel> maxLevel{DS_LOG_LEVEL_ERROR};
    std::atomic<bool> nsLogging{true};
    // Serialises level test, line building, output and callback; the callback may log again.
    dispatch::RecursiveMutex lock;
    DSLogCallback callback GUARDED_BY(lock);
    // The client identification headers, built on first use.
    dispatch::Mutex idMutex;
    std::optional<ns::Dictionary> headers GUARDED_BY(idMutex);

    ns::Dictionary& builtHeaders() REQUIRES(idMutex) {
        if (!headers) {
            headers = ns::Dictionary{{"x-client-SKU", "iOS"},
                                     {"x-client-Ver", kSalVersion},
                                     {"x-client-OS", ui::Device::current().systemVersion()},
                                     {"x-client-DM", ui::Device::current().model()}};
            std::optional<std::string> cpu = DSLogger::getCPUInfo();
            if (!dsIsStringNilOrBlank(cpu)) (*headers)["x-client-CPU"] = *cpu;
        }
        return *headers;
    }
};

State& state() {
    static auto* s = new State;
    return *s;
}

// Read once, when the first line is written.
const std::string& operatingSystemText() {
    static const auto* text =
        new std::string(ns::format("iOS %@", ui::Device::current().systemVersion()));
    return *text;
}

ns::LogLevel systemLevel(DSLogLevel level) {
    if (level == DS_LOG_LEVEL_ERROR) return ns::LogLevel::Error;
    return level == DS_LOG_LEVEL_VERBOSE ? ns::LogLevel::Debug : ns::LogLevel::Default;
}

}  // namespace

void DSLogger::setLevel(DSLogLevel level) {
    state().maxLevel = level;
}

DSLogLevel DSLogger::getLevel() {
    return state().maxLevel;
}

bool DSLogger::isEnabled(DSLogLevel level) {
    return level != DS_LOG_LEVEL_NONE && level <= state().maxLevel;
}

void DSLogger::setNSLogging(bool on) {
    state().nsLogging = on;
}

bool DSLogger::getNSLogging() {
    return state().nsLogging;
}

void DSLogger::setLogCallBack(DSLogCallback callback) {
    State& s = state();
    dispatch::ScopedLock lock(s.lock);
    s.callback = std::move(callback);
}

DSLogCallback DSLogger::getLogCallBack() {
    State& s = state();
    dispatch::ScopedLock lock(s.lock);
    return s.callback;
}

std::string DSLogger::stringForLevel(DSLogLevel level) {
    static constexpr const char* kNames[] = {"NONE", "ERROR", "WARNING", "INFO", "VERBOSE"};
    return level <= DS_LOG_LEVEL_VERBOSE ? kNames[level] : "UNKNOWN";
}

void DSLogger::log(DSLogLevel level, const DSLogContext* context,
                   const std::optional<std::string>& message, int64_t errorCode,
                   const std::optional<std::string>& info,
                   const std::optional<ns::UUID>& correlationId, const ns::Dictionary* userInfo) {
    if (level == DS_LOG_LEVEL_NONE || !message) return;
    State& s = state();
    dispatch::ScopedLock lock(s.lock);
    const bool toSystemLog = s.nsLogging;
    if (level > s.maxLevel || (!s.callback && !toSystemLog)) return;

    const std::optional<std::string> component = context ? context->component() : std::nullopt;
    // "SAL 2.3.1 <os> [<UTC date>[ - <correlation id>]][ [<component>]]"
    const std::string head = ns::format(
        "SAL 2.3.1 %@ [%@%@]%@", operatingSystemText(), ns::Date::now().description().substr(0, 19),
        correlationId ? " - " + correlationId->UUIDString() : std::string(),
        component ? " [" + *component + "]" : std::string());
    if (toSystemLog) {
        ns::Log::write(systemLevel(level), "signin", {},
                       ns::format("%@ %@: %@", head, stringForLevel(level), *message));
    }
    if (s.callback) s.callback(level, head + " " + *message, info, errorCode, userInfo);
}

std::optional<std::string> DSLogger::getHash(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return sec::logDigest(text->c_str());  // up to the first zero byte, as a C string would be
}

void DSLogger::logToken(const std::optional<std::string>& token, std::string_view tokenType,
                        const std::optional<ns::Date>& expiresOn,
                        const std::optional<std::string>& context,
                        const std::optional<ns::UUID>& correlationId) {
    std::string text;
    if (context) text += ns::format("%@ ", *context);
    text += ns::format("%@ (%@)", tokenType, getHash(token).value_or("(null)"));
    if (expiresOn) text += ns::format(" expires on %@", *expiresOn);
    log(DS_LOG_LEVEL_INFO, nullptr, text, DS_ERROR_SUCCEEDED, std::nullopt, correlationId);
}

ns::Dictionary DSLogger::salId() {
    State& s = state();
    dispatch::Lock lock(s.idMutex);
    return s.builtHeaders();
}

void DSLogger::setIdValue(const std::string& value, const std::string& key) {
    State& s = state();
    dispatch::Lock lock(s.idMutex);
    s.builtHeaders()[key] = value;
}

void DSLogger::setSalVersion(const std::string& version) {
    State& s = state();
    dispatch::Lock lock(s.idMutex);
    if (s.headers) (*s.headers)["x-client-Ver"] = version;
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
    log(DS_LOG_LEVEL_ERROR, nullptr, std::string(message), DS_ERROR_DEVELOPER_INVALID_ARGUMENT,
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
        DS_ERROR_SUCCEEDED, functionAndLine(where), std::nullopt);
}
