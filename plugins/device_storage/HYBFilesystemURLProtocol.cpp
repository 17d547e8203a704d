#include "plugins/device_storage/HYBFilesystemURLProtocol.h"

#include <algorithm>

#include "platform/net/HTTPURLResponse.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/FileHandle.h"
#include "plugins/device_storage/HYBFile.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"

namespace {

std::shared_ptr<net::HTTPURLResponse> response(const ns::URL& url,
                                               const std::optional<std::string>& mimeType) {
    net::HTTPHeaderFields headers{{"Cache-Control", "no-cache"}};
    if (mimeType) net::setHeaderValue(headers, "Content-Type", *mimeType);
    return std::make_shared<net::HTTPURLResponse>(url, mimeType ? 200 : 404, "HTTP/1.1",
                                                  std::move(headers));
}

}  // namespace

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

bool HYBFilesystemURLProtocol::streamLocalFile(const std::string& path,
                                               const std::string& mimeType) {
    // Opened beneath the folders the page may read: a link put in the way since the path was
    // checked leads nowhere.
    auto fd = ns::ConfinedFile::openForReading(path);
    if (!fd) return false;
    auto handle = ns::FileHandle::fileHandleWithFileDescriptor(std::move(*fd), path);
    // Devices, FIFOs and directories have no end to read to.
    auto attributes = handle->attributes();
    if (!attributes || attributes->type != ns::FileType::Regular) return false;
    auto& client = *this->client();
    client.didReceiveResponse(*this, response(request().url(), mimeType),
                              net::URLCacheStoragePolicy::NotAllowed);
    // Up to the size the file had when it was opened: a file that grows meanwhile has an end.
    uint64_t remaining = attributes->size;
    while (remaining > 0 && !stopped_) {
        auto chunk = handle->readDataOfLength(std::min<uint64_t>(remaining, kChunkSize));
        if (!chunk) {
            client.didFailWithError(*this, chunk.error());
            return true;
        }
        if (chunk->empty()) break;  // the file shrank while it was read
        remaining -= chunk->length();
        client.didLoadData(*this, *chunk);
    }
    client.didFinishLoading(*this);
    return true;
}

void HYBFilesystemURLProtocol::startLoading() {
    std::weak_ptr<URLProtocol> weakSelf = shared_from_this();
    const ns::URL url = request().url();
    auto respond = [weakSelf, url](std::optional<ns::Data> data,
                                   std::optional<std::string> mimeType, int32_t code) {
        auto self = weakSelf.lock();
        if (!self) return;
        const bool found = code == 0 && data;
        auto& client = *self->client();
        client.didReceiveResponse(*self, response(url, found ? mimeType : std::nullopt),
                                  net::URLCacheStoragePolicy::NotAllowed);
        if (found) client.didLoadData(*self, *data);
        client.didFinishLoading(*self);
    };
    HYBFilesystemURL fsURL(url);
    auto plugin = HYBFile::sharedInstance();
    auto fs = plugin ? plugin->filesystemForURL(fsURL) : nullptr;
    if (!fs) return respond(std::nullopt, std::nullopt, NOT_FOUND_ERR);
    if (std::dynamic_pointer_cast<HYBLocalFilesystem>(fs)) {
        auto path = fs->filesystemPathForURL(fsURL);
        const std::string mimeType = HYBLocalFilesystem::getMimeTypeFromPath(path).value_or("*/*");
        if (!path || !streamLocalFile(*path, mimeType)) {
            respond(std::nullopt, std::nullopt, NOT_FOUND_ERR);
        }
        return;
    }
    fs->readFileAtURL(fsURL, 0, -1, std::move(respond));
}
