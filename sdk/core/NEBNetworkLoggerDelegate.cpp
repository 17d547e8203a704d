#include "sdk/core/NEBNetworkLoggerDelegate.h"

#include "platform/ns/Log.h"
#include "platform/ns/URL.h"

namespace {

const char* levelName(NEBNetworkLogLevel level) {
    switch (level) {
        case NEBNetworkLogLevel::Error:
            return "ERROR";
        case NEBNetworkLogLevel::Warning:
            return "WARNING";
        case NEBNetworkLogLevel::Info:
            return "INFO";
        case NEBNetworkLogLevel::Debug:
            return "DEBUG";
    }
    return "DEBUG";
}

}  // namespace

void NEBNetworkWriteConsoleLog(NEBNetworkLogLevel level, std::string_view message,
                               const std::vector<ns::Value>& contexts, bool debugEnabled) {
    if (level >= NEBNetworkLogLevel::Debug && !debugEnabled) return;
    std::string text = message.empty() ? "(Message was empty)" : std::string(message);
    std::string line = ns::format("<%@/%@> %@", "Nebula/Network", levelName(level), text);
    if (!contexts.empty()) {
        line += ": ";
        for (size_t i = 0; i < contexts.size(); ++i) {
            if (i > 0) line += ", ";
            line += contexts[i].isNull() ? "(nil)" : contexts[i].description();
        }
    }
    ns::nslog("%@", line);
}

std::string NEBNetworkLoggableURL(std::string_view text) {
    auto url = ns::URL::parse(text);
    if (!url || !url->scheme() || !url->host()) return "(invalid URL)";
    std::string result = *url->scheme() + "://" + *url->host();
    if (url->port()) result += ":" + std::to_string(*url->port());
    return result + url->path();
}

std::string NEBNetworkLoggableError(const ns::Error& error) {
    return ns::format("Error Domain=%@ Code=%lld \"%@\"", error.domain(),
                      static_cast<long long>(error.code()), error.localizedDescription());
}
