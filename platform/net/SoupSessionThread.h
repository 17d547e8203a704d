#pragma once

#include <libsoup/soup.h>

#include <deque>
#include <functional>
#include "platform/dispatch/Mutex.h"

namespace net {

// The one thread of the process that moves HTTP bytes: a libsoup session on a main context of
// its own, which this thread runs. Transfers live on it and report to their tasks from it;
// tasks carry the news to their sessions' delegate queues. Time-outs measure real socket
// silence, so they run on the steady clock like the sockets themselves, not on the program's
// (possibly manual) clock.
//
// The session names no proxy unless the environment does, as other command-line programs read
// it: http_proxy for http, https_proxy (or HTTPS_PROXY) for https, all_proxy (or ALL_PROXY)
// for both, and no_proxy (or NO_PROXY) for the hosts that go direct; loopback always goes
// direct. The environment is read when the thread starts.
class SoupSessionThread {
public:
    static SoupSessionThread& shared();

    // Runs `work` on the thread, after the work posted before it; at once when called there.
    void post(std::function<void()> work);

    // On the thread only.
    SoupSession* session() const { return session_; }
    GMainContext* context() const { return context_; }

private:
    SoupSessionThread();
    void run();
    void runPosted();

    GMainContext* context_ = nullptr;
    SoupSession* session_ = nullptr;
    dispatch::Mutex mutex_;
    std::deque<std::function<void()>> posted_ GUARDED_BY(mutex_);
};

}  // namespace net
