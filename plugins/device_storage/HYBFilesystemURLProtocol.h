#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "platform/net/URLProtocol.h"

// Answers the application's own URL requests for "hybfile" URLs with the entry's bytes, read
// from the file system that the URL names through the file plug-in's shared instance: 200
// with the MIME type and the whole contents, or 404 when there is nothing to read. Files of
// folder file systems are handed over in chunks as they are read, so that a file of any size
// is served without being held in memory whole. Nothing is cached.
class HYBFilesystemURLProtocol : public net::URLProtocol {
public:
    static constexpr size_t kChunkSize = 256 * 1024;

    using URLProtocol::URLProtocol;

    static bool canInitWithRequest(const net::URLRequest& request);
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request);
    // Equal resource specifiers (everything after the scheme and its ":").
    static bool requestIsCacheEquivalent(const net::URLRequest& a, const net::URLRequest& b);

    void startLoading() override;
    void stopLoading() override { stopped_ = true; }

private:
    // Streams a file of a folder file system; false when it cannot be opened as one.
    bool streamLocalFile(const std::string& path, const std::string& mimeType);

    std::atomic<bool> stopped_{false};
};
