#include "platform/net/SoupTransport.h"

#include "platform/net/SoupSessionThread.h"
#include "platform/net/SoupTransfer.h"
#include "platform/rt/ModuleLoader.h"

namespace net {

namespace {

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce(HTTPTransport::kClassName,
                                        [] { return std::make_shared<SoupTransport>(); });
    return true;
}();

}  // namespace

ns::Result<std::shared_ptr<Load>> SoupTransport::start(std::shared_ptr<LoadObserver> observer,
                                                       uint64_t load, URLRequest request, Body body,
                                                       Limits limits) const {
    auto transfer =
        SoupTransfer::make(std::move(observer), load, std::move(request), std::move(body), limits);
    if (!transfer) return transfer.error();
    SoupSessionThread::shared().post([transfer = *transfer] { transfer->begin(); });
    return std::shared_ptr<Load>(*transfer);
}

}  // namespace net
