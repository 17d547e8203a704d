#include "sdk/messaging/NEBMessagingServiceHosts.h"

#include <charconv>

#include "sdk/core/NEBServiceHosts.h"
#include "sdk/messaging/NEBMessagingLogger.h"

namespace {

constexpr const char* kDefaultHost = "messaging.nebula.invalid";

std::optional<uint16_t> parsePort(std::string_view digits) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<NEBMessagingServiceHosts::Server> NEBMessagingServiceHosts::parseServer(
    std::string_view text) {
    Server server;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        server.host = std::string(text.substr(1, close - 1));
        rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
    } else {
        size_t colon = text.find(':');
        // More than one colon without brackets is an address without a port.
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
            colon = std::string_view::npos;
        server.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) rest = text.substr(colon);
    }
    if (server.host.empty()) return std::nullopt;
    if (!rest.empty()) {
        auto port = parsePort(rest.substr(1));
        if (!port) return std::nullopt;
        server.port = *port;
    }
    return server;
}

NEBMessagingServiceHosts::Server NEBMessagingServiceHosts::messagingServer() {
    const std::string configured = NEBServiceHosts::messagingServer();
    if (auto server = parseServer(configured)) return *server;
    NEBMessagingSharedLogger().logFuncError(
        __func__, "Invalid messaging server %@; expected host or host:port", configured);
    return {kDefaultHost, kDefaultPort};
}

std::string NEBMessagingServiceHosts::messagingServerHost() {
    return messagingServer().host;
}

void NEBMessagingServiceHosts::setMessagingServer(const std::string& host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    NEBServiceHosts::setMessagingServer((v6 ? "[" + host + "]" : host) + ":" +
                                        std::to_string(port));
}

std::string NEBMessagingServiceHosts::loginDomain() {
    return "messaging.nebula.invalid";
}

std::string NEBMessagingServiceHosts::serviceSenderAddress() {
    return "service@messaging.nebula.invalid";
}

std::string NEBMessagingServiceHosts::instanceIDSenderAddress() {
    return "iid@messaging.nebula.invalid";
}
