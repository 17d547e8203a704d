#pragma once

#include <memory>

#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"

namespace net {

class URLProtocol;

// Whether a response may be cached; recorded only, since nothing is cached.
enum class URLCacheStoragePolicy : int { Allowed = 0, AllowedInMemoryOnly = 1, NotAllowed = 2 };

// What a URL-loading protocol tells the loading system about its load. Callable from any
// thread; after the load has finished, failed, been redirected or stopped, calls are ignored.
class URLProtocolClient {
public:
    virtual ~URLProtocolClient() = default;

    // The load continues as a new load of `request` (if the task's delegate agrees).
    virtual void wasRedirectedToRequest(URLProtocol& protocol, const URLRequest& request,
                                        std::shared_ptr<const URLResponse> redirectResponse) = 0;
    virtual void didReceiveResponse(URLProtocol& protocol,
                                    std::shared_ptr<const URLResponse> response,
                                    URLCacheStoragePolicy policy) = 0;
    virtual void didLoadData(URLProtocol& protocol, const ns::Data& data) = 0;
    virtual void didFinishLoading(URLProtocol& protocol) = 0;
    virtual void didFailWithError(URLProtocol& protocol, const ns::Error& error) = 0;
};

}  // namespace net
