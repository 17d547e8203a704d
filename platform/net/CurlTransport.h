#pragma once

#include "platform/net/HTTPTransport.h"

namespace net {

// The HTTP transport on libcurl: each exchange a CurlTransfer, run by the TransferEngine.
// Announced to the module loader as HTTPTransport::kClassName.
class CurlTransport : public HTTPTransport {
public:
    ns::Result<std::shared_ptr<Load>> start(std::shared_ptr<LoadObserver> observer, uint64_t load,
                                            URLRequest request, Body body,
                                            Limits limits) const override;
};

}  // namespace net
