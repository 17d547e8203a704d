#include "platform/net/SoupSessionThread.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/SigpipeGuard.h"

namespace net {

namespace {

// Enough for the SDK's parallel uploads and a page's requests to one host at once.
constexpr int kConnectionsPerHost = 8;
constexpr int kConnections = 64;

const char* environment(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (const char* value = std::getenv(name); value && *value) return value;
    }
    return nullptr;
}

// The proxies the environment names, or null when it names none (every connection is
// direct).
GProxyResolver* proxyResolverFromEnvironment() {
    const char* all = environment({"all_proxy", "ALL_PROXY"});
    // Only the lower-case name for plain http: a web server's programs may find a request's
    // "Proxy:" header in HTTP_PROXY.
    const char* http = environment({"http_proxy"});
    const char* https = environment({"https_proxy", "HTTPS_PROXY"});
    if (!all && !http && !https) return nullptr;
    std::vector<std::string> direct{"localhost", "127.0.0.0/8", "::1"};
    if (const char* list = environment({"no_proxy", "NO_PROXY"})) {
        std::string entries = list;
        for (size_t start = 0; start <= entries.size();) {
            size_t comma = std::min(entries.find(',', start), entries.size());
            std::string entry = entries.substr(start, comma - start);
            entry.erase(0, entry.find_first_not_of(" \t"));
            entry.erase(entry.find_last_not_of(" \t") + 1);
            if (!entry.empty()) direct.push_back(entry);
            start = comma + 1;
        }
    }
    std::vector<const char*> ignored;
    for (const auto& host : direct) ignored.push_back(host.c_str());
    ignored.push_back(nullptr);
    GProxyResolver* resolver = g_simple_proxy_resolver_new(all, const_cast<char**>(ignored.data()));
    if (http)
        g_simple_proxy_resolver_set_uri_proxy(G_SIMPLE_PROXY_RESOLVER(resolver), "http", http);
    if (https)
        g_simple_proxy_resolver_set_uri_proxy(G_SIMPLE_PROXY_RESOLVER(resolver), "https", https);
    return resolver;
}

SoupSession* makeSession() {
    // No time-outs of the session's own: each transfer keeps its own (SoupTransfer).
    SoupSession* session =
        soup_session_new_with_options("max-conns", kConnections, "max-conns-per-host",
                                      kConnectionsPerHost, "timeout", 0u, nullptr);
    GProxyResolver* proxies = proxyResolverFromEnvironment();
    soup_session_set_proxy_resolver(session, proxies);
    if (proxies) g_object_unref(proxies);
    return session;
}

}  // namespace

SoupSessionThread& SoupSessionThread::shared() {
    // Never destroyed: transfers may still be running while the process exits.
    static SoupSessionThread* thread = new SoupSessionThread();
    return *thread;
}

SoupSessionThread::SoupSessionThread() : context_(g_main_context_new()) {
    std::thread([this] { run(); }).detach();
}

void SoupSessionThread::run() {
    // A peer that hung up must not end the process when a write meets it.
    SigpipeGuard::blockForThisThread();
    g_main_context_push_thread_default(context_);
    session_ = makeSession();
    GMainLoop* loop = g_main_loop_new(context_, FALSE);
    g_main_loop_run(loop);
}

// The work goes through a queue of our own, under a lock, and the main context is only asked to
// run it: what the context does for its callers is invisible to a race checker, this is not.
void SoupSessionThread::post(std::function<void()> work) {
    {
        dispatch::Lock lock(mutex_);
        posted_.push_back(std::move(work));
    }
    g_main_context_invoke(
        context_,
        [](gpointer self) {
            static_cast<SoupSessionThread*>(self)->runPosted();
            return G_SOURCE_REMOVE;
        },
        this);
}

void SoupSessionThread::runPosted() {
    std::deque<std::function<void()>> work;
    {
        dispatch::Lock lock(mutex_);
        work.swap(posted_);
    }
    for (auto& task : work) task();
}

}  // namespace net
