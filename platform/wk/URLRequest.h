#pragma once

#include "platform/net/URLRequest.h"

namespace wk {

// A request for a URL as a web view loads it or hands it to a scheme handler: the network
// layer's request, with the top-level document's URL that it belongs to.
using URLRequest = net::URLRequest;

}  // namespace wk
