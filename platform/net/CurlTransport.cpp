#include "platform/net/CurlTransport.h"

#include "platform/net/CurlTransfer.h"
#include "platform/net/TransferEngine.h"
#include "platform/rt/ModuleLoader.h"

namespace net {

namespace {

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce(HTTPTransport::kClassName,
                                        [] { return std::make_shared<CurlTransport>(); });
    return true;
}();

}  // namespace

ns::Result<std::shared_ptr<Load>> CurlTransport::start(std::shared_ptr<LoadObserver> observer,
                                                       uint64_t load, URLRequest request, Body body,
                                                       Limits limits) const {
    auto transfer =
        CurlTransfer::make(std::move(observer), load, std::move(request), std::move(body), limits);
    if (!transfer) return transfer.error();
    TransferEngine::shared().add(*transfer);
    return std::shared_ptr<Load>(*transfer);
}

}  // namespace net
