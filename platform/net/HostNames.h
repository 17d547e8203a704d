#pragma once

#include <string_view>

namespace net {

// Whether a host name lies under the top-level domain that is reserved never to exist
// ("invalid"). Such a name can never be found, so asking a name server only makes the caller
// wait for the answer, or for the time-out where no server answers: lookups answer "not
// found" at once instead. A trailing dot and letter case do not matter.
bool hostNeverResolves(std::string_view host);

}  // namespace net
