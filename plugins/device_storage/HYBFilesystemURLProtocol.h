#pragma once

#include <memory>

#include "platform/net/URLProtocol.h"

// Answers the application's own URL requests for "hybfile" URLs with the entry's bytes, read
// from the file system that the URL names through the file plug-in's shared instance: 200
// with the MIME type and the whole contents, or 404 when there is nothing to read. Nothing is
// cached.
class HYBFilesystemURLProtocol : public net::URLProtocol {
public:
    using URLProtocol::URLProtocol;

    static bool canInitWithRequest(const net::URLRequest& request);
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request);
    // Equal resource specifiers (everything after the scheme and its ":").
    static bool requestIsCacheEquivalent(const net::URLRequest& a, const net::URLRequest& b);

    void startLoading() override;
    void stopLoading() override {}
};
