#pragma once

#include <map>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A tiny HTTP server on 127.0.0.1 for pages that the suite navigates to: every GET answers
// 200 with a small HTML page titled with the request's path. After stop(), connections to its
// port are refused. Requests are served on a thread of its own.
class LoopbackHTTPServer {
public:
    LoopbackHTTPServer();
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path) const;
    std::vector<std::string> requestedPaths() const;
    // The value of the header in each request for `path` that carried it, in order.
    std::vector<std::string> requestHeaders(const std::string& path, const std::string& name) const;
    // Answers GET `path` with this HTML instead of the titled page.
    void setPage(const std::string& path, std::string html);
    // Adds "name: value" to the answers for `path`.
    void addResponseHeader(const std::string& path, std::string line);
    // Answers GET `path` with a 302 to `location`.
    void setRedirect(const std::string& path, std::string location);
    void stop();

private:
    void serve();
    void answer(int connection);

    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
    std::vector<std::string> heads_;  // each request's head, in the order of paths_
    std::map<std::string, std::string> extraHeaders_;
    std::map<std::string, std::string> pages_;
    std::map<std::string, std::string> redirects_;
};
