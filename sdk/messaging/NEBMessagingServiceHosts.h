#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where the messaging server lives and the server-side names the client must know. The server
// is the SDK's service-hosts setting "MessagingServer" (NEBServiceHosts: program, environment,
// Info.plist, default), "host" or "host:port"; the defaults name hosts that never resolve, so
// an unconfigured program connects nowhere. Any thread.
class NEBMessagingServiceHosts {
public:
    static constexpr uint16_t kDefaultPort = 5228;

    struct Server {
        std::string host;
        uint16_t port = kDefaultPort;
    };
    // "host", "host:port", "[address]" or "[address]:port"; nothing when the text is not one
    // of these (an empty host, a port that is not a number from 1 to 65535).
    static std::optional<Server> parseServer(std::string_view text);

    // The configured server; a malformed setting is logged and gives the default host.
    static Server messagingServer();
    static std::string messagingServerHost();
    static void setMessagingServer(const std::string& host, uint16_t port);
    // The login request's domain. Default "messaging.nebula.invalid".
    static std::string loginDomain();
    // The sender addresses of the service's own messages and of instance identity's.
    static std::string serviceSenderAddress();     // default "service@messaging.nebula.invalid"
    static std::string instanceIDSenderAddress();  // default "iid@messaging.nebula.invalid"
};
