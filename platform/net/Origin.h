#pragma once

#include "platform/ns/URL.h"

namespace net {

// The port a web URL connects to: the one it names, else its scheme's (443 for https, 80
// otherwise).
int effectivePort(const ns::URL& url);

// Whether two URLs have one origin: the same scheme, host and port, letter case aside and a
// scheme's default port the same as no port.
bool isSameOrigin(const ns::URL& a, const ns::URL& b);

}  // namespace net
