#include "platform/net/HostNames.h"

#include <cctype>

namespace net {

bool hostNeverResolves(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    constexpr std::string_view kReserved = "invalid";
    if (host.size() < kReserved.size()) return false;
    const std::string_view last = host.substr(host.size() - kReserved.size());
    for (size_t i = 0; i < kReserved.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(last[i])) != kReserved[i]) return false;
    }
    return host.size() == kReserved.size() || host[host.size() - kReserved.size() - 1] == '.';
}

}  // namespace net
