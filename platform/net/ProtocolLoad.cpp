#include "platform/net/ProtocolLoad.h"

#include "platform/dispatch/Queue.h"

namespace net {

namespace {

// Protocols start and stop in order on a queue of their own, never on the caller's thread.
dispatch::Queue& protocolQueue() {
    static auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("net.url-protocol"));
    return **queue;
}

}  // namespace

std::shared_ptr<ProtocolLoad> ProtocolLoad::start(std::shared_ptr<LoadObserver> observer,
                                                  uint64_t load, const URLProtocol::Class& type,
                                                  const URLRequest& request) {
    auto self = std::make_shared<ProtocolLoad>(std::move(observer), load);
    self->protocol_ = type.make(type.canonicalRequestForRequest(request), self);
    protocolQueue().async([self] {
        if (!self->stopped_) self->protocol_->startLoading();
    });
    return self;
}

void ProtocolLoad::stop() {
    ended_ = true;
    if (stopped_.exchange(true)) return;
    auto self = shared_from_this();
    protocolQueue().async([self] {
        self->protocol_->stopLoading();
        // The protocol holds this load as its client; letting it go ends the cycle.
        self->protocol_.reset();
    });
}

bool ProtocolLoad::end() {
    return !ended_.exchange(true);
}

void ProtocolLoad::wasRedirectedToRequest(URLProtocol&, const URLRequest& request,
                                          std::shared_ptr<const URLResponse> redirectResponse) {
    if (!end()) return;
    observer_->loadWasRedirected(load_, request, std::move(redirectResponse), ns::Data());
}

void ProtocolLoad::didReceiveResponse(URLProtocol&, std::shared_ptr<const URLResponse> response,
                                      URLCacheStoragePolicy) {
    if (ended_) return;
    observer_->loadDidReceiveResponse(load_, std::move(response));
}

void ProtocolLoad::didLoadData(URLProtocol&, const ns::Data& data) {
    if (ended_) return;
    if (!observer_->loadDidReceiveData(load_, data.bytes(), data.length())) ended_ = true;
}

void ProtocolLoad::didFinishLoading(URLProtocol&) {
    if (!end()) return;
    observer_->loadDidFinish(load_, std::nullopt);
}

void ProtocolLoad::didFailWithError(URLProtocol&, const ns::Error& error) {
    if (!end()) return;
    observer_->loadDidFinish(load_, error);
}

}  // namespace net
