#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/ns/SharedInstance.h"

// Where the messaging server lives and the server-side names the client must know. Each is
// configuration that the host sets at start; the defaults name hosts that never resolve, so an
// unconfigured program connects nowhere. Any thread.
class NEBMessagingServiceHosts {
public:
    static constexpr uint16_t kDefaultPort = 5228;

    static std::string messagingServerHost();  // default "messaging.nebula.invalid"
    static uint16_t messagingServerPort();     // default 5228
    static void setMessagingServer(std::string host, uint16_t port);
    // The login request's domain. Default "messaging.nebula.invalid".
    static std::string loginDomain();
    // The sender addresses of the service's own messages and of instance identity's.
    static std::string serviceSenderAddress();     // default "service@messaging.nebula.invalid"
    static std::string instanceIDSenderAddress();  // default "iid@messaging.nebula.invalid"

private:
    friend class ns::SharedInstance<NEBMessagingServiceHosts>;
    NEBMessagingServiceHosts() = default;
    static NEBMessagingServiceHosts& shared() {
        return ns::SharedInstance<NEBMessagingServiceHosts>::get();
    }

    std::mutex mutex_;
    std::string host_ = "messaging.nebula.invalid";
    uint16_t port_ = kDefaultPort;
};
