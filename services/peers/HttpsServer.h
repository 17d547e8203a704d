#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/ns/URL.h"
#include "services/peers/TestCA.h"

namespace peers {

// One request as the server received it.
struct HttpRequest {
    std::string method;
    std::string target;  // as on the request line: path and query
    std::string path;
    std::string query;  // without "?"; empty when none
    net::HTTPHeaderFields headers;
    // The header lines as they came, in order, each name and value as sent.
    std::vector<std::pair<std::string, std::string>> headerLines;
    std::string body;  // after any chunked transfer coding, otherwise as sent

    std::optional<std::string> header(std::string_view name) const {
        return net::headerValue(headers, name);
    }
};

// A scripted answer.
struct HttpResponse {
    enum class Action {
        Answer,  // status, headers, body
        Close,   // close the connection without answering
        Raw,     // send `body` as it is, then close (for malformed answers)
    };

    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
    std::string body;
    Action action = Action::Answer;
    // Held back until this many further requests have reached the server, or until
    // releaseHeld(); kForever holds it until released (or the server stops, which closes the
    // connection unanswered).
    size_t afterRequests = 0;
    static constexpr size_t kForever = std::numeric_limits<size_t>::max();

    static HttpResponse text(int status, std::string body, std::string type = "text/plain") {
        HttpResponse r;
        r.status = status;
        r.body = std::move(body);
        r.headers.emplace_back("Content-Type", std::move(type));
        return r;
    }
    static HttpResponse redirect(int status, std::string location) {
        HttpResponse r;
        r.status = status;
        r.headers.emplace_back("Location", std::move(location));
        return r;
    }
    static HttpResponse closeConnection() {
        HttpResponse r;
        r.action = Action::Close;
        return r;
    }
    static HttpResponse raw(std::string bytes) {
        HttpResponse r;
        r.action = Action::Raw;
        r.body = std::move(bytes);
        return r;
    }
    // Never answered unless released: for time-outs and cancellation.
    static HttpResponse hang() {
        HttpResponse r;
        r.afterRequests = kForever;
        return r;
    }
    HttpResponse& header(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
};

// A loopback HTTPS (or plain HTTP) server for tests: it binds 127.0.0.1 on a port the system
// picks, serves every connection on a thread of its own (keep-alive, Content-Length or chunked
// request bodies, "Expect: 100-continue"), answers from a script per method and path and
// records every request.
//
// Scripts: on() appends an answer to the route's list; each request takes the next one and the
// last one stays for all later requests. A handler computes the answer instead. Unscripted
// routes get 404. An empty method matches any method.
//
// Bounds: after `maxRequests` requests further ones are closed unanswered, and after
// `lifetime` the server stops by itself; stop() (or the destructor) ends it at once.
class HttpsServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    struct Options {
        // TLS with this identity; plain HTTP when null.
        const ServerIdentity* identity = nullptr;
        size_t maxRequests = 1000;
        std::chrono::seconds lifetime{60};
        // A port of its own (for a service whose address must stay the same); 0: the system
        // picks one.
        uint16_t port = 0;
        // Speaks TLS 1.0 and 1.1 only (for clients that must refuse it).
        bool onlyOldTLS = false;
    };

    // HTTPS as "localhost" / 127.0.0.1, issued by `ca`.
    explicit HttpsServer(const TestCA& ca);
    explicit HttpsServer(Options options);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    uint16_t port() const { return port_; }
    // "https://127.0.0.1:PORT" (or "http://...").
    std::string baseURL() const;
    // baseURL() + pathAndQuery.
    ns::URL url(const std::string& pathAndQuery) const;

    void on(std::string method, std::string path, HttpResponse response);
    void on(std::string method, std::string path, Handler handler);

    std::vector<HttpRequest> requests() const;
    size_t requestCount() const;
    // The connections accepted so far.
    size_t connectionCount() const;
    // Waits (at most `limit`) until at least `count` requests have arrived.
    bool waitForRequests(size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Sends every answer now held back.
    void releaseHeld();

    void stop();

private:
    struct Route {
        std::deque<std::variant<HttpResponse, Handler>> answers;
    };

    void acceptLoop();
    void serve(int fd);
    HttpResponse answerFor(const HttpRequest& request);
    bool waitUntilReleased(size_t index, uint64_t generation, size_t afterRequests);

    const Options options_;
    std::shared_ptr<SSL_CTX> context_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stopping_{false};

    mutable dispatch::Mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::pair<std::string, std::string>, Route> routes_ GUARDED_BY(mutex_);
    std::vector<HttpRequest> requests_ GUARDED_BY(mutex_);
    uint64_t releaseGeneration_ GUARDED_BY(mutex_) = 0;
    std::vector<std::thread> connections_ GUARDED_BY(mutex_);
    std::thread acceptThread_;
};

}  // namespace peers
