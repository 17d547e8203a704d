#include "sdk/core/NEBNetworkLoggerDelegate.h"

#include <iterator>

#include "platform/ns/Log.h"
#include "platform/ns/URL.h"
#include "sdk/core/NEBLogPipeline.h"

void NEBNetworkWriteConsoleLog(NEBNetworkLogLevel level, std::string_view message,
                               const std::vector<ns::Value>& contexts, bool debugEnabled) {
    if (level >= NEBNetworkLogLevel::Debug && !debugEnabled) return;
    static constexpr const char* kLevelNames[] = {"ERROR", "WARNING", "INFO", "DEBUG"};
    const auto index = static_cast<size_t>(level);
    std::vector<std::string> described;
    for (const auto& context : contexts) {
        described.push_back(context.isNull() ? "(nil)" : context.description());
    }
    ns::nslog("%@", NEBLogTaggedLine("Nebula/Network",
                                     index < std::size(kLevelNames) ? kLevelNames[index] : "DEBUG",
                                     message, described));
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
