#include "plugins/device_storage/HYBFilesystemURLProtocol.h"

#include "platform/net/HTTPURLResponse.h"
#include "plugins/device_storage/HYBFile.h"

bool HYBFilesystemURLProtocol::canInitWithRequest(const net::URLRequest& request) {
    return request.url().scheme() == std::optional<std::string>(kHYBFilesystemURLPrefix);
}

net::URLRequest HYBFilesystemURLProtocol::canonicalRequestForRequest(
    const net::URLRequest& request) {
    return request;
}

bool HYBFilesystemURLProtocol::requestIsCacheEquivalent(const net::URLRequest& a,
                                                        const net::URLRequest& b) {
    return a.url().resourceSpecifier() == b.url().resourceSpecifier();
}

void HYBFilesystemURLProtocol::startLoading() {
    std::weak_ptr<URLProtocol> weakSelf = shared_from_this();
    const ns::URL url = request().url();
    auto respond = [weakSelf, url](std::optional<ns::Data> data,
                                   std::optional<std::string> mimeType, int32_t code) {
        auto self = weakSelf.lock();
        if (!self) return;
        net::HTTPHeaderFields headers{{"Cache-Control", "no-cache"}};
        const bool found = code == 0 && data;
        if (found) net::setHeaderValue(headers, "Content-Type", mimeType.value_or(""));
        auto response = std::make_shared<net::HTTPURLResponse>(url, found ? 200 : 404, "HTTP/1.1",
                                                               std::move(headers));
        auto& client = *self->client();
        client.didReceiveResponse(*self, response, net::URLCacheStoragePolicy::NotAllowed);
        if (found) client.didLoadData(*self, *data);
        client.didFinishLoading(*self);
    };
    HYBFilesystemURL fsURL(url);
    auto plugin = HYBFile::sharedInstance();
    auto fs = plugin ? plugin->filesystemForURL(fsURL) : nullptr;
    if (!fs) return respond(std::nullopt, std::nullopt, NOT_FOUND_ERR);
    fs->readFileAtURL(fsURL, 0, -1, std::move(respond));
}
