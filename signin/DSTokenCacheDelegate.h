#pragma once

class DSTokenCache;

// The application's keeper of an archivable cache's blob: told before and after every read
// and write, with the lock released, so that it may load or store the blob then.
class DSTokenCacheDelegate {
public:
    virtual ~DSTokenCacheDelegate() = default;
    virtual void willAccessCache(DSTokenCache& cache) = 0;
    virtual void didAccessCache(DSTokenCache& cache) = 0;
    virtual void willWriteCache(DSTokenCache& cache) = 0;
    virtual void didWriteCache(DSTokenCache& cache) = 0;
};
