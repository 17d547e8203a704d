#pragma once

#include "platform/net/HTTPTransport.h"

namespace net {

// The HTTP transport on libsoup, the HTTP library the web engine itself loads: each exchange a
// SoupTransfer, run on the SoupSessionThread. Announced to the module loader as
// HTTPTransport::kClassName.
class SoupTransport : public HTTPTransport {
public:
    ns::Result<std::shared_ptr<Load>> start(std::shared_ptr<LoadObserver> observer, uint64_t load,
                                            URLRequest request, Body body,
                                            Limits limits) const override;
};

}  // namespace net
