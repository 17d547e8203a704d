#include "sdk/messaging/NEBMessagingServiceHosts.h"

std::string NEBMessagingServiceHosts::messagingServerHost() {
    auto& hosts = shared();
    std::lock_guard lock(hosts.mutex_);
    return hosts.host_;
}

uint16_t NEBMessagingServiceHosts::messagingServerPort() {
    auto& hosts = shared();
    std::lock_guard lock(hosts.mutex_);
    return hosts.port_;
}

void NEBMessagingServiceHosts::setMessagingServer(std::string host, uint16_t port) {
    auto& hosts = shared();
    std::lock_guard lock(hosts.mutex_);
    hosts.host_ = std::move(host);
    hosts.port_ = port;
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
