// The transport on its own, below the task (which keeps limits of its own that would hide the
// transport's).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/net/HTTPTransport.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/URLError.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/PeerSocket.h"
#include "services/peers/TestCA.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using peers::HttpResponse;
using peers::HttpsServer;

// What a transfer reported, from the transport's thread.
class RecordingObserver : public net::LoadObserver {
public:
    void loadDidConnectSecurely(uint64_t, std::shared_ptr<const net::ServerTrust>,
                                int port) override {
        std::lock_guard lock(mutex_);
        ports_.push_back(port);
    }
    void loadDidReceiveResponse(uint64_t, std::shared_ptr<const net::URLResponse> r) override {
        std::lock_guard lock(mutex_);
        status_ = r->http() ? r->http()->statusCode() : 0;
    }
    bool loadDidReceiveData(uint64_t, const uint8_t*, size_t length) override {
        std::lock_guard lock(mutex_);
        received_ += length;
        return true;
    }
    void loadWasRedirected(uint64_t, net::URLRequest, std::shared_ptr<const net::URLResponse>,
                           ns::Data) override {}
    void loadDidFinish(uint64_t, std::optional<ns::Error> error) override {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        finished_ = true;
        changed_.notify_all();
    }

    bool waitUntilFinished() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return finished_; });
    }
    std::vector<int> ports() {
        std::lock_guard lock(mutex_);
        return ports_;
    }
    int status() {
        std::lock_guard lock(mutex_);
        return status_;
    }
    size_t received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    int64_t errorCode() {
        std::lock_guard lock(mutex_);
        return error_ ? error_->code() : 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> ports_;
    int status_ = 0;
    size_t received_ = 0;
    std::optional<ns::Error> error_;
    bool finished_ = false;
};

std::shared_ptr<RecordingObserver> fetch(const ns::URL& url, uint64_t maximumResponseSize = 0) {
    auto observer = std::make_shared<RecordingObserver>();
    net::HTTPTransport::Limits limits;
    limits.idleTimeout = 30;
    limits.maximumResponseSize = maximumResponseSize;
    auto transport = net::HTTPTransport::loaded();
    EXPECT_TRUE(transport);
    if (!transport) return observer;
    auto load = transport->start(observer, 1, net::URLRequest(url), {}, limits);
    EXPECT_TRUE(load.ok());
    if (load.ok()) EXPECT_TRUE(observer->waitUntilFinished());
    return observer;
}

// An answer without a length that passes the cap inside one read is refused there: not a byte
// beyond the cap is handed on.
TEST(SoupTransfer, AStreamedAnswerPassingItsCapWithinOneReadIsRefused) {
    peers::TestCA ca;
    net::TLSSettings::setExtraCAFile(ca.caFile());
    HttpsServer server(ca);
    const std::string body(5000, 'x');
    server.on("GET", "/one-piece",
              HttpResponse::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1388\r\n" +
                                body + "\r\n0\r\n\r\n"));
    auto refused = fetch(server.url("/one-piece"), 1000);
    EXPECT_EQ(refused->errorCode(), net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_LE(refused->received(), 1000u);

    auto taken = fetch(server.url("/one-piece"), body.size());
    EXPECT_EQ(taken->errorCode(), 0);
    EXPECT_EQ(taken->received(), body.size());
    net::TLSSettings::setExtraCAFile("");
}

// An HTTP proxy that opens tunnels (CONNECT) to one loopback port, whatever they name, and
// keeps the names asked for.
class TunnelProxy {
public:
    explicit TunnelProxy(uint16_t target) : target_(target) {
        listener_ = peers::listenOnLoopback(port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~TunnelProxy() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }
    std::vector<std::string> asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    void serve() {
        while (!stop_) {
            const int client =
                peers::acceptConnection(listener_, stop_, std::chrono::steady_clock::now() + 60s);
            if (client < 0) return;
            tunnel(client);
            ::close(client);
        }
    }
    void tunnel(int client) {
        std::string head;
        char byte;
        while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &byte, 1, 0) == 1) {
            head += byte;
        }
        const auto end = head.find(' ', 8);
        if (!head.starts_with("CONNECT ") || end == std::string::npos) return;
        {
            std::lock_guard lock(mutex_);
            asked_.push_back(head.substr(8, end - 8));
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(target_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(server);
            return;
        }
        const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
        ::send(client, established.data(), established.size(), MSG_NOSIGNAL);
        pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[16384];
        while (!stop_ && ::poll(ends, 2, 100) >= 0) {
            bool open = true;
            for (int i = 0; i < 2 && open; ++i) {
                if (!ends[i].revents) continue;
                const ssize_t n = ::recv(ends[i].fd, buffer, sizeof buffer, 0);
                open = n > 0 &&
                       ::send(ends[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
            }
            if (!open) break;
        }
        ::close(server);
    }

    const uint16_t target_;
    uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> asked_;
    std::thread thread_;
};

// In a process of its own, whose transport starts with the proxy in its environment: fetches
// https://secure.test/ (args: CA file, proxy URL) and writes back each port its trust
// challenges named, then the status and the error code.
[[noreturn]] void fetchWithoutAPort(int signalFd, const std::vector<std::string>& args) {
    ::setenv("https_proxy", args.at(1).c_str(), 1);
    net::TLSSettings::setExtraCAFile(args.at(0));
    auto observer = fetch(*ns::URL::parse("https://secure.test/"));
    std::string report;
    for (int port : observer->ports()) report += std::to_string(port) + " ";
    report += std::to_string(observer->status()) + " " + std::to_string(observer->errorCode());
    const bool written =
        ::write(signalFd, report.data(), report.size()) == static_cast<ssize_t>(report.size());
    ::_exit(written ? 0 : 1);
}
const testsupport::ChildRegistration kFetcher("SoupTransfer.fetchWithoutAPort", &fetchWithoutAPort);

// An https URL that names no port is port 443 where the transport names the port itself: in the
// challenge that shows the task the server's chain, and in the check of the chain against the
// extra authorities.
TEST(SoupTransfer, AnHttpsURLWithoutAPortIsPort443) {
    peers::TestCA ca;
    const auto identity = ca.issue({"secure.test"}, {});
    HttpsServer server(HttpsServer::Options{.identity = &identity});
    server.on("GET", "/", HttpResponse::text(200, "through"));
    TunnelProxy proxy(server.port());
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child =
        testsupport::startChild("SoupTransfer.fetchWithoutAPort", fds[1],
                                {ca.caFile(), "http://127.0.0.1:" + std::to_string(proxy.port())});
    ::close(fds[1]);
    ASSERT_GT(child, 0);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report, "443 200 0");
    EXPECT_EQ(proxy.asked(), std::vector<std::string>{"secure.test:443"});
}

}  // namespace
