#include "platform/net/RouteLookup.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

#include "platform/net/HostNames.h"
#include "platform/net/NetlinkSocket.h"

namespace net {

namespace {

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    char attributes[64];
};

// What a route message says about reaching its destination.
ReachabilityFlags flagsOfRoute(const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        return 0;
    }
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    bool viaGateway = false;
    auto left = static_cast<unsigned>(RTM_PAYLOAD(&message));
    for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, left);
         attribute = RTA_NEXT(attribute, left)) {
        if (attribute->rta_type == RTA_GATEWAY || attribute->rta_type == RTA_VIA) {
            viaGateway = true;
        }
    }
    switch (route->rtm_type) {
        case RTN_LOCAL:
            return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
                   kReachabilityFlagsIsDirect;
        case RTN_UNICAST:
            return kReachabilityFlagsReachable | (viaGateway ? 0 : kReachabilityFlagsIsDirect);
        default:
            return 0;
    }
}

bool isDefaultRoute(const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        return false;
    }
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    return route->rtm_dst_len == 0 && route->rtm_type == RTN_UNICAST &&
           route->rtm_table != RT_TABLE_LOCAL;
}

std::optional<NetlinkSocket> requestSocket() {
    return NetlinkSocket::open(0, false);
}

}  // namespace

std::optional<ReachabilityFlags> RouteLookup::flagsForAddress(const sockaddr* address,
                                                              socklen_t length) {
    if (!address) return std::nullopt;
    const void* bytes = nullptr;
    size_t size = 0;
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        size = sizeof(in_addr);
    } else if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        size = sizeof(in6_addr);
    } else {
        return ReachabilityFlags{0};
    }
    auto socket = requestSocket();
    if (!socket) return std::nullopt;

    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.route.rtm_family = static_cast<unsigned char>(address->sa_family);
    request.route.rtm_dst_len = static_cast<unsigned char>(size * 8);
    auto* destination = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                  NLMSG_ALIGN(request.header.nlmsg_len));
    destination->rta_type = RTA_DST;
    destination->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(destination), bytes, size);
    request.header.nlmsg_len =
        NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(destination->rta_len);

    ReachabilityFlags flags = 0;
    if (!socket->request(request.header,
                         [&](const nlmsghdr& reply) { flags |= flagsOfRoute(reply); })) {
        return std::nullopt;
    }
    // An error answer (no route: network or host unreachable) leaves the flags at 0.
    return flags;
}

std::optional<ReachabilityFlags> RouteLookup::flagsForDefaultRoute() {
    auto socket = requestSocket();
    if (!socket) return std::nullopt;
    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.route.rtm_family = AF_UNSPEC;
    bool found = false;
    if (!socket->request(request.header,
                         [&](const nlmsghdr& reply) { found = found || isDefaultRoute(reply); })) {
        return std::nullopt;
    }
    return found ? kReachabilityFlagsReachable : ReachabilityFlags{0};
}

std::optional<ReachabilityFlags> RouteLookup::flagsForTarget(const ReachabilityTarget& target) {
    if (!target.hostName) {
        if (target.isNetworkInGeneral()) return flagsForDefaultRoute();
        return flagsForAddress(reinterpret_cast<const sockaddr*>(&target.address),
                               target.addressLength);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (target.hostName->empty() || hostNeverResolves(*target.hostName) ||
        ::getaddrinfo(target.hostName->c_str(), nullptr, &hints, &found) != 0) {
        return ReachabilityFlags{0};
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
    std::optional<ReachabilityFlags> answer;
    for (const addrinfo* entry = addresses.get(); entry; entry = entry->ai_next) {
        auto flags = flagsForAddress(entry->ai_addr, entry->ai_addrlen);
        if (!flags) continue;
        if (*flags & kReachabilityFlagsReachable) return flags;
        answer = flags;
    }
    return answer;
}

}  // namespace net
