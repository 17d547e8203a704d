#pragma once

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLResponse.h"

namespace wk {

// What a scheme handler answers before the body: the network layer's plain response (URL,
// MIME type, length, text encoding) or its HTTP one (status code, version and header fields
// as well).
using URLResponse = net::URLResponse;
using HTTPURLResponse = net::HTTPURLResponse;

}  // namespace wk
