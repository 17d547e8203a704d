#include "sdk/messaging/NEBMessagingServiceHosts.h"

#include <mutex>

namespace {

std::mutex mutex;
std::string host = "messaging.nebula.invalid";
uint16_t port = NEBMessagingServiceHosts::kDefaultPort;

}  // namespace

std::string NEBMessagingServiceHosts::messagingServerHost() {
    std::lock_guard lock(mutex);
    return host;
}

uint16_t NEBMessagingServiceHosts::messagingServerPort() {
    std::lock_guard lock(mutex);
    return port;
}

void NEBMessagingServiceHosts::setMessagingServer(std::string newHost, uint16_t newPort) {
    std::lock_guard lock(mutex);
    host = std::move(newHost);
    port = newPort;
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
