#include "tests/e2e/LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

LoopbackHTTPServer::LoopbackHTTPServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot start the loopback HTTP server");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    stop();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackHTTPServer::requestedPaths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

std::vector<std::string> LoopbackHTTPServer::requestHeaders(const std::string& path,
                                                            const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> values;
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string wanted = "\r\n" + lower(name) + ":";
    for (size_t i = 0; i < paths_.size(); ++i) {
        if (paths_[i] != path) continue;
        const std::string head = lower(heads_[i]);
        const size_t at = head.find(wanted);
        if (at == std::string::npos) continue;
        const size_t start = heads_[i].find_first_not_of(' ', at + wanted.size());
        values.push_back(heads_[i].substr(start, heads_[i].find("\r\n", start) - start));
    }
    return values;
}

void LoopbackHTTPServer::addResponseHeader(const std::string& path, std::string line) {
    std::lock_guard lock(mutex_);
    extraHeaders_[path] += line + "\r\n";
}

void LoopbackHTTPServer::stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
    thread_.join();
    ::close(listener_);
    listener_ = -1;
}

void LoopbackHTTPServer::serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void LoopbackHTTPServer::setPage(const std::string& path, std::string html) {
    std::lock_guard lock(mutex_);
    pages_[path] = std::move(html);
}

void LoopbackHTTPServer::setRedirect(const std::string& path, std::string location) {
    std::lock_guard lock(mutex_);
    redirects_[path] = std::move(location);
}

void LoopbackHTTPServer::answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd fd{connection, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0) return;
        const ssize_t n = ::read(connection, buffer, sizeof buffer);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
    }
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    std::string extraHead;
    std::string body = "<!DOCTYPE html><html><head><title>" + path +
                       "</title></head><body><p>Loopback page</p></body></html>";
    {
        std::lock_guard lock(mutex_);
        paths_.push_back(path);
        heads_.push_back(request.substr(0, request.find("\r\n\r\n") + 2));
        if (auto extra = extraHeaders_.find(path); extra != extraHeaders_.end()) {
            extraHead = extra->second;
        }
        if (auto page = pages_.find(path); page != pages_.end()) body = page->second;
        if (auto redirect = redirects_.find(path); redirect != redirects_.end()) {
            const std::string response = "HTTP/1.1 302 Found\r\nLocation: " + redirect->second +
                                         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            (void)!::write(connection, response.data(), response.size());
            return;
        }
    }
    const auto endsWith = [&](const char* suffix) {
        const std::string tail(suffix);
        return path.size() >= tail.size() &&
               path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
    };
    const std::string type = endsWith(".js")    ? "text/javascript"
                             : endsWith(".css") ? "text/css"
                                                : "text/html; charset=utf-8";
    const std::string response = "HTTP/1.1 200 OK\r\n" + extraHead + "Content-Type: " + type +
                                 "\r\n"
                                 "Content-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body;
    (void)!::write(connection, response.data(), response.size());
}
