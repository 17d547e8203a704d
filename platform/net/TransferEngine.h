#pragma once

#include <curl/curl.h>

#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dispatch/Mutex.h"

namespace net {

class CurlTransfer;

// The one thread of the process that moves HTTP bytes: a libcurl multi handle driven by its
// own loop. Transfers report to their tasks from this thread; tasks carry the news to their
// sessions' delegate queues. Time-outs here measure real socket silence, so they run on the
// steady clock like the sockets themselves, not on the program's (possibly manual) clock.
class TransferEngine {
public:
    static TransferEngine& shared();

    void add(std::shared_ptr<CurlTransfer> transfer);
    // Drops a transfer without a report; unknown or finished ones are ignored.
    void remove(uint64_t transferId);

private:
    TransferEngine();
    void run();
    void takeCommands();
    void collectFinished();
    void expireIdle();
    int pollTimeoutMs() const;
    void drop(std::map<uint64_t, std::shared_ptr<CurlTransfer>>::iterator it);

    CURLM* multi_ = nullptr;
    dispatch::Mutex mutex_;
    std::vector<std::shared_ptr<CurlTransfer>> toAdd_ GUARDED_BY(mutex_);
    std::vector<uint64_t> toRemove_ GUARDED_BY(mutex_);
    // Engine thread only.
    std::map<uint64_t, std::shared_ptr<CurlTransfer>> active_;
    std::thread thread_;
};

}  // namespace net
