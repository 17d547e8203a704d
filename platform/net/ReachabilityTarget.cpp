#include "platform/net/ReachabilityTarget.h"

#include <netinet/in.h>

#include <cstring>

namespace net {

ReachabilityTarget ReachabilityTarget::forHostName(std::string hostName) {
    ReachabilityTarget target;
    target.hostName = std::move(hostName);
    return target;
}

std::optional<ReachabilityTarget> ReachabilityTarget::forAddress(const sockaddr* address,
                                                                 socklen_t length) {
    if (!address || length < sizeof(sa_family_t) || length > sizeof(sockaddr_storage)) {
        return std::nullopt;
    }
    ReachabilityTarget target;
    std::memcpy(&target.address, address, length);
    target.addressLength = length;
    return target;
}

ReachabilityTarget ReachabilityTarget::forNetworkInGeneral() {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    return *forAddress(reinterpret_cast<const sockaddr*>(&any), sizeof any);
}

bool ReachabilityTarget::isNetworkInGeneral() const {
    if (hostName || address.ss_family != AF_INET || addressLength < sizeof(sockaddr_in)) {
        return false;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    return in->sin_addr.s_addr == htonl(INADDR_ANY);
}

}  // namespace net
