#include "services/peers/HttpsServer.h"

#include <openssl/ssl.h>
#include <unistd.h>

#include <charconv>
#include <stdexcept>

#include "services/peers/PeerSocket.h"

namespace peers {

namespace {

constexpr size_t kMaximumHead = 64 * 1024;
constexpr size_t kMaximumBody = 64 * 1024 * 1024;
constexpr std::chrono::milliseconds kReadSlice{50};

const char* reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 300:
            return "Multiple Choices";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The request line and header fields; false when they are not HTTP/1.x.
bool parseHead(std::string_view head, HttpRequest& request) {
    size_t lineEnd = head.find("\r\n");
    std::string_view line = head.substr(0, lineEnd);
    size_t sp1 = line.find(' ');
    size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    request.method = std::string(line.substr(0, sp1));
    request.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    if (line.substr(sp2 + 1).substr(0, 5) != "HTTP/") return false;
    size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) request.query = request.target.substr(question + 1);

    std::string_view rest = lineEnd == std::string_view::npos ? "" : head.substr(lineEnd + 2);
    while (!rest.empty()) {
        size_t end = rest.find("\r\n");
        std::string_view field = rest.substr(0, end);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 2);
        size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        net::addHeaderValue(request.headers, field.substr(0, colon), trim(field.substr(colon + 1)));
        request.headerLines.emplace_back(field.substr(0, colon), trim(field.substr(colon + 1)));
    }
    return true;
}

std::string serialize(const HttpResponse& response, const HttpRequest& request, bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      reasonPhrase(response.status) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : response.headers) {
        hasLength = hasLength || net::headerNameEquals(name, "Content-Length");
        out += name + ": " + value + "\r\n";
    }
    bool bodyless = response.status == 204 || response.status == 304 || response.status < 200;
    if (!hasLength && !bodyless) {
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    if (close) out += "Connection: close\r\n";
    out += "\r\n";
    if (request.method != "HEAD" && !bodyless) out += response.body;
    return out;
}

}  // namespace

HttpsServer::HttpsServer(const TestCA& ca) : HttpsServer(Options{&ca.localhost()}) {}

HttpsServer::HttpsServer(Options options)
    : options_(options), deadline_(std::chrono::steady_clock::now() + options.lifetime) {
    if (options_.identity) context_ = options_.identity->makeServerContext();
    if (context_ && options_.onlyOldTLS) {
        // The protocols need the weakest security level, whatever the system's settings say.
        SSL_CTX_set_security_level(context_.get(), 0);
        SSL_CTX_set_min_proto_version(context_.get(), TLS1_VERSION);
        SSL_CTX_set_max_proto_version(context_.get(), TLS1_1_VERSION);
    }
    port_ = options_.port;
    listener_ = listenOnLoopback(port_);
    if (listener_ < 0) throw std::runtime_error("HttpsServer: cannot listen on 127.0.0.1");
    acceptThread_ = std::thread([this] {
        blockSigpipeOnThisThread();
        acceptLoop();
    });
}

HttpsServer::~HttpsServer() {
    stop();
}

std::string HttpsServer::baseURL() const {
    return std::string(context_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

ns::URL HttpsServer::url(const std::string& pathAndQuery) const {
    return *ns::URL::parse(baseURL() + pathAndQuery);
}

void HttpsServer::on(std::string method, std::string path, HttpResponse response) {
    dispatch::Lock lock(mutex_);
    routes_[{std::move(method), std::move(path)}].answers.emplace_back(std::move(response));
}

void HttpsServer::on(std::string method, std::string path, Handler handler) {
    dispatch::Lock lock(mutex_);
    routes_[{std::move(method), std::move(path)}].answers.emplace_back(std::move(handler));
}

std::vector<HttpRequest> HttpsServer::requests() const {
    dispatch::Lock lock(mutex_);
    return requests_;
}

size_t HttpsServer::requestCount() const {
    dispatch::Lock lock(mutex_);
    return requests_.size();
}

bool HttpsServer::waitForRequests(size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    dispatch::Lock lock(mutex_);
    while (requests_.size() < count) {
        if (lock.waitUntil(changed_, deadline) == std::cv_status::timeout) break;
    }
    return requests_.size() >= count;
}

void HttpsServer::releaseHeld() {
    dispatch::Lock lock(mutex_);
    ++releaseGeneration_;
    changed_.notify_all();
}

void HttpsServer::stop() {
    {
        dispatch::Lock lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> connections;
    {
        dispatch::Lock lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& thread : connections) thread.join();
    if (listener_ >= 0) ::close(std::exchange(listener_, -1));
}

void HttpsServer::acceptLoop() {
    for (;;) {
        int fd = acceptConnection(listener_, stopping_, deadline_);
        if (fd < 0) break;
        dispatch::Lock lock(mutex_);
        connections_.emplace_back([this, fd] {
            blockSigpipeOnThisThread();
            serve(fd);
        });
    }
    // The lifetime is over (or stop() was called): every connection winds down.
    dispatch::Lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

size_t HttpsServer::connectionCount() const {
    dispatch::Lock lock(mutex_);
    return connections_.size();
}

HttpResponse HttpsServer::answerFor(const HttpRequest& request) {
    dispatch::Lock lock(mutex_);
    auto route = routes_.find({request.method, request.path});
    if (route == routes_.end()) route = routes_.find({std::string(), request.path});
    if (route == routes_.end() || route->second.answers.empty()) {
        return HttpResponse::text(404, "Not Found");
    }
    auto answer = route->second.answers.front();
    if (route->second.answers.size() > 1) route->second.answers.pop_front();
    lock.unlock();
    if (auto* handler = std::get_if<Handler>(&answer)) return (*handler)(request);
    return std::get<HttpResponse>(answer);
}

bool HttpsServer::waitUntilReleased(size_t index, uint64_t generation, size_t afterRequests) {
    dispatch::Lock lock(mutex_);
    auto released = [&]() REQUIRES(mutex_) {
        return stopping_ || releaseGeneration_ != generation ||
               (afterRequests != HttpResponse::kForever &&
                requests_.size() >= index + 1 + afterRequests);
    };
    while (!released()) {
        lock.waitFor(changed_, kReadSlice);
        if (std::chrono::steady_clock::now() >= deadline_) stopping_ = true;
    }
    return !stopping_;
}

void HttpsServer::serve(int fd) {
    PeerSocket socket(fd, context_, stopping_);
    if (!socket.accept()) return;
    std::string buffer;
    // Reads until the buffer holds `needed` bytes; false when the connection or server ends.
    auto fill = [&](size_t needed) {
        char chunk[16 * 1024];
        while (buffer.size() < needed) {
            long n = socket.readSome(chunk, sizeof chunk, kReadSlice);
            if (n < 0) return false;
            if (n == 0 && (stopping_ || std::chrono::steady_clock::now() >= deadline_)) {
                return false;
            }
            buffer.append(chunk, static_cast<size_t>(n));
        }
        return true;
    };
    auto readLine = [&](std::string& line) {
        size_t end;
        while ((end = buffer.find("\r\n")) == std::string::npos) {
            if (buffer.size() > kMaximumHead || !fill(buffer.size() + 1)) return false;
        }
        line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        return true;
    };

    while (!stopping_) {
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaximumHead || !fill(buffer.size() + 1)) return;
        }
        HttpRequest request;
        if (!parseHead(std::string_view(buffer).substr(0, headEnd), request)) {
            socket.writeAll(serialize(HttpResponse::text(400, "Bad Request"), request, true));
            return;
        }
        buffer.erase(0, headEnd + 4);
        if (auto expect = request.header("Expect");
            expect && net::headerNameEquals(*expect, "100-continue")) {
            socket.writeAll("HTTP/1.1 100 Continue\r\n\r\n");
        }

        auto encoding = request.header("Transfer-Encoding");
        if (encoding && net::headerNameEquals(*encoding, "chunked")) {
            for (;;) {
                std::string line;
                if (!readLine(line)) return;
                size_t size = 0;
                auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
                if (ec != std::errc() || request.body.size() + size > kMaximumBody) return;
                if (size == 0) {
                    while (readLine(line) && !line.empty()) {
                    }
                    break;
                }
                if (!fill(size + 2)) return;
                request.body.append(buffer, 0, size);
                buffer.erase(0, size + 2);
            }
        } else if (auto length = request.header("Content-Length")) {
            size_t size = 0;
            auto [end, ec] = std::from_chars(length->data(), length->data() + length->size(), size);
            if (ec != std::errc() || size > kMaximumBody || !fill(size)) return;
            request.body = buffer.substr(0, size);
            buffer.erase(0, size);
        }

        size_t index;
        // A release counts from the moment the request is seen (waitForRequests), not from
        // when its answer is looked up: a test that releases right after seeing it must not
        // be missed.
        uint64_t generation;
        {
            dispatch::Lock lock(mutex_);
            index = requests_.size();
            if (index >= options_.maxRequests) return;
            requests_.push_back(request);
            generation = releaseGeneration_;
            changed_.notify_all();
        }
        HttpResponse response = answerFor(request);
        if (response.afterRequests > 0 &&
            !waitUntilReleased(index, generation, response.afterRequests)) {
            return;
        }
        switch (response.action) {
            case HttpResponse::Action::Close:
                socket.shutdown();
                return;
            case HttpResponse::Action::Raw:
                socket.writeAll(response.body);
                socket.shutdown();
                return;
            case HttpResponse::Action::Answer:
                break;
        }
        auto connection = request.header("Connection");
        bool close = connection && net::headerNameEquals(*connection, "close");
        if (!socket.writeAll(serialize(response, request, close)) || close) {
            socket.shutdown();
            return;
        }
    }
}

}  // namespace peers
