#pragma once

#include <atomic>
#include <memory>

#include "platform/net/Load.h"
#include "platform/net/LoadObserver.h"
#include "platform/net/URLProtocol.h"
#include "platform/net/URLProtocolClient.h"

namespace net {

// A load served by a URL-loading protocol: the client the protocol reports to, forwarding to
// the task until the load ends.
class ProtocolLoad final : public Load,
                           public URLProtocolClient,
                           public std::enable_shared_from_this<ProtocolLoad> {
public:
    // Makes the protocol object and starts it on the protocol queue.
    static std::shared_ptr<ProtocolLoad> start(std::shared_ptr<LoadObserver> observer,
                                               uint64_t load, const URLProtocol::Class& type,
                                               const URLRequest& request);

    ProtocolLoad(std::shared_ptr<LoadObserver> observer, uint64_t load)
        : observer_(std::move(observer)), load_(load) {}

    void stop() override;

    void wasRedirectedToRequest(URLProtocol& protocol, const URLRequest& request,
                                std::shared_ptr<const URLResponse> redirectResponse) override;
    void didReceiveResponse(URLProtocol& protocol, std::shared_ptr<const URLResponse> response,
                            URLCacheStoragePolicy policy) override;
    void didLoadData(URLProtocol& protocol, const ns::Data& data) override;
    void didFinishLoading(URLProtocol& protocol) override;
    void didFailWithError(URLProtocol& protocol, const ns::Error& error) override;

private:
    // The protocol's last word: no report after it reaches the task.
    bool end();

    const std::shared_ptr<LoadObserver> observer_;
    const uint64_t load_;
    std::shared_ptr<URLProtocol> protocol_;  // set once at start
    std::atomic<bool> ended_{false};
    std::atomic<bool> stopped_{false};
};

}  // namespace net
