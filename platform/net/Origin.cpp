#include "platform/net/Origin.h"

#include "platform/ns/StringComponents.h"

namespace net {

int effectivePort(const ns::URL& url) {
    if (auto port = url.port()) return *port;
    return ns::asciiLowercased(url.scheme().value_or("")) == "https" ? 443 : 80;
}

bool isSameOrigin(const ns::URL& a, const ns::URL& b) {
    return ns::asciiLowercased(a.scheme().value_or("")) ==
               ns::asciiLowercased(b.scheme().value_or("")) &&
           ns::asciiLowercased(a.host().value_or("")) ==
               ns::asciiLowercased(b.host().value_or("")) &&
           effectivePort(a) == effectivePort(b);
}

}  // namespace net
