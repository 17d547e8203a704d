#include "platform/net/URLSession.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/net/HTTPTransport.h"
#include "platform/net/HostNames.h"
#include "platform/net/URLError.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/PeerSocket.h"
#include "tests/platform/net/NetTestSupport.h"
#include "tests/platform/net/RecordingSessionDelegate.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using nettest::NetTest;
using nettest::Outcome;
using nettest::RecordingSessionDelegate;
using peers::HttpResponse;
using peers::HttpsServer;

std::string pattern(size_t length) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

std::string gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A port on 127.0.0.1 where nothing listens.
uint16_t closedPort() {
    uint16_t port = 0;
    int fd = peers::listenOnLoopback(port);
    ::close(fd);
    return port;
}

class URLSessionTest : public NetTest {
protected:
    std::shared_ptr<Outcome> run(const std::shared_ptr<net::URLSession>& session,
                                 net::URLRequest request) {
        auto outcome = std::make_shared<Outcome>();
        session->dataTask(std::move(request), nettest::recordInto(outcome))->resume();
        EXPECT_TRUE(nettest::waitFor(outcome));
        return outcome;
    }

    net::URLRequest postRequest(const std::string& path) const {
        net::URLRequest request(server_.url(path));
        request.setHTTPMethod("POST");
        request.setHTTPBody(ns::Data::fromString("a=1"));
        return request;
    }

    HttpsServer server_{ca()};
};

TEST_F(URLSessionTest, GetDeliversStatusHeadersAndBodyOnTheDelegateQueue) {
    server_.on(
        "GET", "/hello",
        HttpResponse::text(200, "hi there", "text/plain; charset=UTF-8").header("X-Custom", "yes"));
    auto session = mainSession();
    net::URLRequest request(server_.url("/hello?x=1"));
    request.setValue("one", "X-Request");
    auto outcome = std::make_shared<Outcome>();
    bool onMain = false;
    session
        ->dataTask(request,
                   [outcome, &onMain](auto data, auto response, auto error) {
                       onMain = dispatch::RunLoop::isMainThread();
                       nettest::recordInto(outcome)(data, response, error);
                   })
        ->resume();
    ASSERT_TRUE(nettest::waitFor(outcome));

    EXPECT_TRUE(onMain);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->text(), "hi there");
    ASSERT_NE(outcome->http(), nullptr);
    EXPECT_EQ(outcome->http()->statusCode(), 200);
    EXPECT_EQ(outcome->http()->valueForHTTPHeaderField("x-custom"), "yes");
    EXPECT_EQ(outcome->response->MIMEType(), "text/plain");
    EXPECT_EQ(outcome->response->textEncodingName(), "utf-8");
    EXPECT_EQ(outcome->response->expectedContentLength(), 8);
    EXPECT_EQ(outcome->response->url(), server_.url("/hello?x=1"));

    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "x=1");
    EXPECT_EQ(requests[0].header("x-request"), "one");
    EXPECT_FALSE(requests[0].header("Content-Length"));
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, CompletionsRunOnTheSessionsOwnSerialQueue) {
    server_.on("GET", "/q", HttpResponse::text(200, "q"));
    auto queue = dispatch::Queue::createSerial("test.delegate");
    auto session = net::URLSession::sessionWithConfiguration(
        net::URLSessionConfiguration::defaultSessionConfiguration(), nullptr, queue);
    auto outcome = std::make_shared<Outcome>();
    std::atomic<bool> onQueue{false};
    session
        ->dataTask(net::URLRequest(server_.url("/q")),
                   [outcome, queue, &onQueue](auto data, auto response, auto error) {
                       onQueue = queue->isCurrent();
                       nettest::recordInto(outcome)(data, response, error);
                   })
        ->resume();
    ASSERT_TRUE(nettest::waitFor(outcome));
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(outcome->text(), "q");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, PostSendsItsBodyWithTheTrueLengthAndTheCallersHeaders) {
    server_.on("POST", "/submit", HttpResponse::text(201, "made"));
    auto session = mainSession();
    net::URLRequest request(server_.url("/submit"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(ns::Data::fromString("a=1&b=2"));
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.setValue("999", "Content-Length");  // wrong: the transfer sends the true length
    request.setValue("", "X-Empty");
    auto outcome = run(session, request);

    EXPECT_EQ(outcome->http()->statusCode(), 201);
    EXPECT_EQ(outcome->text(), "made");
    auto sent = server_.requests().at(0);
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, "a=1&b=2");
    EXPECT_EQ(sent.header("Content-Length"), "7");
    EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(sent.header("X-Empty"), "");

    net::URLRequest empty(server_.url("/submit"));
    empty.setHTTPMethod("POST");
    run(session, empty);
    EXPECT_EQ(server_.requests().at(1).header("Content-Length"), "0");
    EXPECT_EQ(server_.requests().at(1).body, "");
    session->finishTasksAndInvalidate();
}

// The fields that frame the exchange are the transport's own: what a caller sets for them is
// not sent, and the request goes out as one without them would.
TEST_F(URLSessionTest, FieldsThatFrameTheExchangeAreTheTransportsOwn) {
    server_.on("POST", "/framed", HttpResponse::text(200, "ok"));
    auto session = mainSession();
    net::URLRequest framed = postRequest("/framed");
    const std::pair<const char*, const char*> callersValues[] = {
        {"Host", "elsewhere.example"},    {"content-length", "999"},  {"Connection", "close"},
        {"Transfer-Encoding", "chunked"}, {"Expect", "100-continue"},
    };
    for (const auto& [name, value] : callersValues) framed.setValue(value, name);
    run(session, postRequest("/framed"));
    run(session, framed);
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].headerLines, requests[0].headerLines);
    EXPECT_EQ(requests[1].header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
    EXPECT_EQ(requests[1].body, "a=1");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, HeaderValuesThatWouldEndTheLineAreNotSent) {
    testsupport::LogCapture log;
    log.expect("Not sending a header field that would break the request: X-Note");
    server_.on("GET", "/h", HttpResponse::text(200, "ok"));
    auto session = mainSession();
    net::URLRequest request(server_.url("/h"));
    request.setValue("x\r\nX-Injected: yes", "X-Note");
    request.setValue("fine", "X-Other");
    auto outcome = run(session, request);
    EXPECT_FALSE(outcome->error);
    auto sent = server_.requests().at(0);
    EXPECT_FALSE(sent.header("X-Injected"));
    EXPECT_FALSE(sent.header("X-Note"));
    EXPECT_EQ(sent.header("X-Other"), "fine");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, ConfigurationHeadersGoWithEveryRequestThatLacksThem) {
    server_.on("GET", "/c", HttpResponse::text(200, "ok"));
    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setHTTPAdditionalHeaders({{"X-Session", "s"}, {"X-Both", "session"}});
    auto session = mainSession(nullptr, configuration);
    net::URLRequest request(server_.url("/c"));
    request.setValue("request", "x-both");
    run(session, request);
    auto sent = server_.requests().at(0);
    EXPECT_EQ(sent.header("X-Session"), "s");
    EXPECT_EQ(sent.header("X-Both"), "request");
    session->finishTasksAndInvalidate();
}

// After a 303 the request is a GET without a body; the configuration's fields that describe
// a body must not come back with it.
TEST_F(URLSessionTest, ARequestWithoutBodyTakesNoBodyFieldsFromTheConfiguration) {
    server_.on("POST", "/form", HttpResponse::redirect(303, "/result"));
    server_.on("GET", "/result", HttpResponse::text(200, "ok"));
    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setHTTPAdditionalHeaders({{"Content-Type", "application/x-protobuf"},
                                            {"content-encoding", "gzip"},
                                            {"X-Session", "s"}});
    auto session = mainSession(nullptr, configuration);
    net::URLRequest request(server_.url("/form"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(ns::Data::fromString("body"));
    EXPECT_EQ(run(session, request)->text(), "ok");
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-protobuf");
    EXPECT_EQ(requests[0].header("Content-Encoding"), "gzip");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].header("Content-Type"), std::nullopt);
    EXPECT_EQ(requests[1].header("Content-Encoding"), std::nullopt);
    EXPECT_EQ(requests[1].header("X-Session"), "s");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, UploadsFromDataAndFromAFile) {
    server_.on("PUT", "/up", [](const peers::HttpRequest& r) {
        return HttpResponse::text(200, std::to_string(r.body.size()));
    });
    auto session = mainSession();
    const std::string body = pattern(50'000);
    testsupport::TempDir dir;
    std::ofstream(dir / "body.bin", std::ios::binary) << body;

    net::URLRequest request(server_.url("/up"));
    request.setHTTPMethod("PUT");
    auto fromData = std::make_shared<Outcome>();
    session->uploadTask(request, ns::Data::fromString(body), nettest::recordInto(fromData))
        ->resume();
    ASSERT_TRUE(nettest::waitFor(fromData));
    auto fromFile = std::make_shared<Outcome>();
    session
        ->uploadTask(request, ns::URL::fileURLWithPath((dir / "body.bin").string()),
                     nettest::recordInto(fromFile))
        ->resume();
    ASSERT_TRUE(nettest::waitFor(fromFile));

    EXPECT_EQ(fromData->text(), "50000");
    EXPECT_EQ(fromFile->text(), "50000");
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[1].body, body);

    auto missing = std::make_shared<Outcome>();
    session
        ->uploadTask(request, ns::URL::fileURLWithPath((dir / "missing").string()),
                     nettest::recordInto(missing))
        ->resume();
    ASSERT_TRUE(nettest::waitFor(missing));
    EXPECT_EQ(missing->errorCode(), net::kURLErrorFileDoesNotExist);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, DownloadWritesATemporaryFileThatGoesAfterTheCompletion) {
    const std::string body = pattern(200'000);
    server_.on("GET", "/file", HttpResponse::text(200, body, "application/octet-stream"));
    auto session = mainSession();
    auto outcome = std::make_shared<Outcome>();
    session
        ->downloadTask(net::URLRequest(server_.url("/file")), nettest::recordDownloadInto(outcome))
        ->resume();
    ASSERT_TRUE(nettest::waitFor(outcome));

    EXPECT_FALSE(outcome->error);
    ASSERT_TRUE(outcome->location);
    EXPECT_TRUE(outcome->fileExistedDuringCompletion);
    EXPECT_EQ(outcome->downloaded, body);
    EXPECT_FALSE(std::filesystem::exists(outcome->location->path()));
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, ErrorStatusesAreAnswersNotErrors) {
    server_.on("GET", "/missing", HttpResponse::text(404, "nope"));
    server_.on("GET", "/broken", HttpResponse::text(503, "later").header("Retry-After", "5"));
    auto session = mainSession();
    auto missing = run(session, net::URLRequest(server_.url("/missing")));
    auto broken = run(session, net::URLRequest(server_.url("/broken")));
    EXPECT_FALSE(missing->error);
    EXPECT_EQ(missing->http()->statusCode(), 404);
    EXPECT_EQ(missing->text(), "nope");
    EXPECT_EQ(broken->http()->statusCode(), 503);
    EXPECT_EQ(broken->http()->valueForHTTPHeaderField("retry-after"), "5");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, GzipEncodedAnswersArriveDecoded) {
    const std::string body = pattern(10'000);
    server_.on("GET", "/z", HttpResponse::text(200, gzip(body)).header("Content-Encoding", "gzip"));
    auto session = mainSession();
    auto outcome = run(session, net::URLRequest(server_.url("/z")));
    EXPECT_EQ(outcome->text(), body);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, RedirectionIsOfferedToTheDelegateAndNotFollowedWhenRefused) {
    server_.on("GET", "/start", HttpResponse::redirect(302, "/target").header("X-R", "1"));
    server_.on("GET", "/target", HttpResponse::text(200, "arrived"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = mainSession(delegate);
    auto outcome = run(session, net::URLRequest(server_.url("/start")));

    EXPECT_FALSE(outcome->error);
    ASSERT_NE(outcome->http(), nullptr);
    EXPECT_EQ(outcome->http()->statusCode(), 302);
    EXPECT_EQ(outcome->http()->valueForHTTPHeaderField("X-R"), "1");
    ASSERT_EQ(delegate->proposedRedirects.size(), 1u);
    EXPECT_EQ(delegate->proposedRedirects[0].url(), server_.url("/target"));
    EXPECT_EQ(server_.requestCount(), 1u);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, FollowedRedirectionIsANewRequestWithTheMethodRulesApplied) {
    server_.on("POST", "/form", HttpResponse::redirect(303, "/result?id=7"));
    server_.on("GET", "/result", HttpResponse::text(200, "result"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    delegate->followRedirects = true;
    auto session = mainSession(delegate);
    net::URLRequest request(server_.url("/form"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(ns::Data::fromString("x=1"));
    request.setValue("kept", "X-Kept");
    auto outcome = run(session, request);

    EXPECT_EQ(outcome->text(), "result");
    EXPECT_EQ(outcome->response->url(), server_.url("/result?id=7"));
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, "/result?id=7");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[1].header("X-Kept"), "kept");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, RedirectionsAreFollowedWithoutADelegateUpToALimit) {
    server_.on("GET", "/a", HttpResponse::redirect(307, "/b"));
    server_.on("GET", "/b", HttpResponse::text(200, "b"));
    server_.on("GET", "/loop", HttpResponse::redirect(302, "/loop"));
    auto session = mainSession();
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/a")))->text(), "b");
    auto loop = run(session, net::URLRequest(server_.url("/loop")));
    EXPECT_EQ(loop->errorCode(), net::kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(server_.requestCount(), 2u + 1u + net::URLSessionTask::kMaximumRedirections);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, RedirectionToAnotherSchemeIsTheAnswerItself) {
    server_.on("GET", "/out", HttpResponse::redirect(302, "file:///etc/passwd"));
    auto session = mainSession();
    auto outcome = run(session, net::URLRequest(server_.url("/out")));
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->http()->statusCode(), 302);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, CancelCompletesOnceWithCancelled) {
    server_.on("GET", "/slow", HttpResponse::hang());
    auto session = mainSession();
    auto outcome = std::make_shared<Outcome>();
    auto task =
        session->dataTask(net::URLRequest(server_.url("/slow")), nettest::recordInto(outcome));
    task->resume();
    ASSERT_TRUE(server_.waitForRequests(1));
    task->cancel();
    task->cancel();
    ASSERT_TRUE(nettest::waitFor(outcome));
    task->cancel();
    loop().runUntilIdle();

    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->error->domain(), net::kURLErrorDomain);
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorCancelled);
    EXPECT_EQ(task->state(), net::URLSessionTaskState::Completed);

    auto never = std::make_shared<Outcome>();
    auto suspended =
        session->dataTask(net::URLRequest(server_.url("/slow")), nettest::recordInto(never));
    suspended->cancel();
    ASSERT_TRUE(nettest::waitFor(never));
    EXPECT_EQ(never->errorCode(), net::kURLErrorCancelled);
    EXPECT_EQ(server_.requestCount(), 1u);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, SilentServerTimesOutAfterTheRequestInterval) {
    server_.on("GET", "/silent", HttpResponse::hang());
    auto session = mainSession();
    net::URLRequest request(server_.url("/silent"));
    request.setTimeoutInterval(1.0);
    auto outcome = run(session, request);
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorTimedOut);
    EXPECT_EQ(outcome->error->userInfo().at(net::kURLErrorFailingURLStringErrorKey),
              ns::Value(server_.url("/silent").absoluteString()));
    session->finishTasksAndInvalidate();
}

// The time-out is for silence: an answer whose bytes keep coming, each well within the
// interval, completes however long it takes as a whole.
TEST_F(URLSessionTest, AnAnswerThatKeepsComingIsNotTimedOut) {
    uint16_t port = 0;
    const int listener = peers::listenOnLoopback(port);
    constexpr int kPieces = 8;
    std::thread trickle([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        char request[4096];
        if (fd < 0 || ::recv(fd, request, sizeof request, 0) <= 0) return;
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPieces) +
                                 "\r\nConnection: close\r\n\r\n";
        bool sending = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        for (int i = 0; i < kPieces && sending; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            sending = ::send(fd, "x", 1, MSG_NOSIGNAL) == 1;
        }
        ::close(fd);
    });
    net::URLRequest request(*ns::URL::parse("http://127.0.0.1:" + std::to_string(port) + "/"));
    request.setTimeoutInterval(1.0);  // half the time the whole answer takes
    auto outcome = run(mainSession(), request);
    trickle.join();
    ::close(listener);
    EXPECT_FALSE(outcome->error) << outcome->errorCode();
    EXPECT_EQ(outcome->text(), std::string(kPieces, 'x'));
}

TEST_F(URLSessionTest, ResponsesBeyondTheCapFail) {
    const std::string big = pattern(5'000);
    server_.on("GET", "/declared", HttpResponse::text(200, big));
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 5; ++i) chunked += "3e8\r\n" + pattern(1000) + "\r\n";
    chunked += "0\r\n\r\n";
    server_.on("GET", "/streamed", HttpResponse::raw(chunked));
    server_.on("GET", "/small", HttpResponse::text(200, pattern(1000)));
    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setMaximumResponseSize(1000);
    auto session = mainSession(nullptr, configuration);

    EXPECT_EQ(run(session, net::URLRequest(server_.url("/declared")))->errorCode(),
              net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/streamed")))->errorCode(),
              net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/small")))->data->length(), 1000u);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, BrokenConnectionsMapToThePlatformsCodes) {
    server_.on("GET", "/drop", HttpResponse::closeConnection());
    server_.on("GET", "/garbage", HttpResponse::raw("this is not http\r\n\r\n"));
    auto session = mainSession();
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/drop")))->errorCode(),
              net::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/garbage")))->errorCode(),
              net::kURLErrorBadServerResponse);
    // A header line beyond what the HTTP library takes (100 KiB) is a bad answer too.
    auto withHeaderOf = [](size_t bytes) {
        return HttpResponse::raw("HTTP/1.1 200 OK\r\nX-Long: " + std::string(bytes, 'a') +
                                 "\r\nContent-Length: 2\r\n\r\nok");
    };
    server_.on("GET", "/long-header", withHeaderOf(100 << 10));
    server_.on("GET", "/wide-header", withHeaderOf(60 << 10));
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/long-header")))->errorCode(),
              net::kURLErrorBadServerResponse);
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/wide-header")))->text(), "ok");
    auto refused = ns::URL::parse("https://127.0.0.1:" + std::to_string(closedPort()) + "/");
    EXPECT_EQ(run(session, net::URLRequest(*refused))->errorCode(),
              net::kURLErrorCannotConnectToHost);
    EXPECT_EQ(run(session, net::URLRequest(*ns::URL::parse("ftp://127.0.0.1/x")))->errorCode(),
              net::kURLErrorUnsupportedURL);
    session->finishTasksAndInvalidate();
}

TEST(HostNames, OnlyNamesUnderTheReservedDomainNeverResolve) {
    for (const char* name : {"invalid", "x.invalid", "app.nebula.INVALID", "a.Invalid."}) {
        EXPECT_TRUE(net::hostNeverResolves(name)) << name;
    }
    for (const char* name : {"", ".", "notinvalid", "invalid.example", "x.invalidx", "nvalid"}) {
        EXPECT_FALSE(net::hostNeverResolves(name)) << name;
    }
}

// Such a name is never handed on: not to the name server, and not to a proxy either (which
// would only answer later that it found nothing, or never, as this one does).
TEST_F(URLSessionTest, AReservedNameThatCannotExistIsNotFoundWithoutAsking) {
    uint16_t port = 0;
    const int proxy = peers::listenOnLoopback(port);
    const char* saved = std::getenv("https_proxy");
    const std::string savedValue = saved ? saved : "";
    ::setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    net::URLRequest request(*ns::URL::parse("https://app-measurement.nebula.invalid/config"));
    request.setTimeoutInterval(2.0);
    auto outcome = run(mainSession(), request);
    saved ? ::setenv("https_proxy", savedValue.c_str(), 1) : ::unsetenv("https_proxy");
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorCannotFindHost);
    pollfd waiting{proxy, POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "the request went to the proxy";
    ::close(proxy);
}

TEST_F(URLSessionTest, UntrustedOrMisnamedCertificatesAreRefused) {
    server_.on("GET", "/", HttpResponse::text(200, "secret"));
    auto wrongName = ca().issue({"other.example"}, {});
    HttpsServer otherName(HttpsServer::Options{&wrongName});
    otherName.on("GET", "/", HttpResponse::text(200, "secret"));
    auto session = mainSession();

    auto misnamedOutcome = run(session, net::URLRequest(otherName.url("/")));
    EXPECT_EQ(misnamedOutcome->errorCode(), net::kURLErrorServerCertificateUntrusted);

    net::TLSSettings::setExtraCAFile("");
    auto untrusted = run(session, net::URLRequest(server_.url("/")));
    EXPECT_EQ(untrusted->errorCode(), net::kURLErrorServerCertificateUntrusted);
    EXPECT_FALSE(untrusted->data);
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_EQ(otherName.requestCount(), 0u);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, AServerWithoutTLS12IsRefusedBeforeTheRequest) {
    HttpsServer::Options options{&ca().localhost()};
    options.onlyOldTLS = true;
    HttpsServer old(options);
    old.on("GET", "/", HttpResponse::text(200, "secret"));
    auto session = mainSession();
    for (int attempt = 0; attempt < 2; ++attempt) {  // nor over a connection kept from before
        auto outcome = run(session, net::URLRequest(old.url("/")));
        EXPECT_EQ(outcome->errorCode(), net::kURLErrorSecureConnectionFailed) << attempt;
        EXPECT_FALSE(outcome->data);
    }
    EXPECT_EQ(old.requestCount(), 0u);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, DelegateHearsTheChallengeResponseDataAndCompletionInOrder) {
    server_.on("GET", "/d", HttpResponse::text(200, pattern(40'000)));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = mainSession(delegate);
    session->dataTask(net::URLRequest(server_.url("/d")))->resume();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));

    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"challenge", "response 200", "data", "complete"}));
    EXPECT_EQ(delegate->received, pattern(40'000));
    EXPECT_EQ(delegate->challengeMethod, net::kURLAuthenticationMethodServerTrust);
    ASSERT_TRUE(delegate->trust);
    EXPECT_EQ(delegate->trust->host(), "127.0.0.1");
    EXPECT_EQ(delegate->trust->evaluate().value(), net::TrustResultType::Unspecified);
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, CancellingTheChallengeCancelsTheTask) {
    server_.on("GET", "/c", HttpResponse::text(200, "not for you"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    delegate->challengeAnswer =
        net::URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge;
    auto session = mainSession(delegate);
    session->dataTask(net::URLRequest(server_.url("/c")))->resume();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"challenge", "complete -999"}));
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, DownloadThroughTheDelegate) {
    server_.on("GET", "/f", HttpResponse::text(200, "file body"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = mainSession(delegate);
    session->downloadTask(net::URLRequest(server_.url("/f")))->resume();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"challenge", "downloaded", "complete"}));
    EXPECT_EQ(delegate->downloaded, "file body");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionTest, InvalidationCancelsTasksThenTellsTheDelegateAndRefusesNewTasks) {
    server_.on("GET", "/hang", HttpResponse::hang());
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = mainSession(delegate);
    session->dataTask(net::URLRequest(server_.url("/hang")))->resume();
    ASSERT_TRUE(server_.waitForRequests(1));
    session->invalidateAndCancel();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->invalidated; }));
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"challenge", "complete -999", "invalid"}));
    EXPECT_EQ(session->delegate(), nullptr);
    EXPECT_THROW(session->dataTask(net::URLRequest(server_.url("/hang"))), ns::Exception);
}

TEST_F(URLSessionTest, SessionLetsGoOfItsDelegateOnceIdle) {
    server_.on("GET", "/x", HttpResponse::text(200, "x"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    std::weak_ptr<RecordingSessionDelegate> weak = delegate;
    auto session = mainSession(delegate);
    session->dataTask(net::URLRequest(server_.url("/x")))->resume();
    delegate.reset();  // the session keeps it while the task runs
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(peers::runMainLoopUntil([&] { return weak.expired(); }));
    EXPECT_EQ(server_.requestCount(), 1u);
}

}  // namespace

namespace {

// In the host the transport comes with a module of its own; without it a task fails with an
// error, and the session goes on.
TEST_F(URLSessionTest, WithoutItsTransportModuleATaskFailsWithAnError) {
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().provide(net::HTTPTransport::kClassName, "/nonexistent/net.so");
    server_.on("GET", "/hello", HttpResponse::text(200, "hi", "text/plain"));
    auto outcome = run(mainSession(), net::URLRequest(server_.url("/hello")));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorUnknown);
    ASSERT_TRUE(outcome->error);
    EXPECT_NE(outcome->error->description().find("network library"), std::string::npos)
        << outcome->error->description();
}

// What a server sees of the transport's own fields, in the order it sends them: the host first,
// any media type and the encodings the transport decodes unless the caller names its own, form
// fields as the media type of a POST that names none, and no persistent-connection field.
TEST_F(URLSessionTest, TheTransportsOwnFieldsGoFirstAndGiveWayToTheCallers) {
    server_.on("", "/f", HttpResponse::text(200, "ok"));
    auto session = mainSession();
    net::URLRequest plain(server_.url("/f"));
    net::URLRequest named(server_.url("/f"));
    named.setValue("application/json", "Accept");
    named.setValue("identity", "Accept-Encoding");
    const net::URLRequest post = postRequest("/f");
    net::URLRequest typed = post;
    typed.setValue("application/json", "content-type");
    for (const auto& request : {plain, named, post, typed}) run(session, request);

    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 4u);
    auto lines = [](const peers::HttpRequest& request) {
        std::vector<std::string> text;
        for (const auto& [name, value] : request.headerLines) text.push_back(name + ": " + value);
        return text;
    };
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server_.port());
    EXPECT_EQ(lines(requests[0]), (std::vector<std::string>{host, "Accept: */*",
                                                            "Accept-Encoding: deflate, gzip, br"}));
    EXPECT_EQ(lines(requests[1]), (std::vector<std::string>{host, "Accept: application/json",
                                                            "Accept-Encoding: identity"}));
    EXPECT_EQ(lines(requests[2]),
              (std::vector<std::string>{host, "Accept: */*", "Accept-Encoding: deflate, gzip, br",
                                        "Content-Length: 3",
                                        "Content-Type: application/x-www-form-urlencoded"}));
    EXPECT_EQ(requests[3].header("Content-Type"), "application/json");
    session->finishTasksAndInvalidate();
}

// A server may answer in any encoding that the request names.
TEST_F(URLSessionTest, EveryEncodingTheRequestNamesArrivesDecoded) {
    std::string text;
    for (int i = 0; i < 12; ++i) text += "brotli, ";
    std::string deflated(compressBound(text.size()), '\0');
    uLongf deflatedLength = deflated.size();
    compress2(reinterpret_cast<Bytef*>(deflated.data()), &deflatedLength,
              reinterpret_cast<const Bytef*>(text.data()), text.size(), Z_BEST_COMPRESSION);
    deflated.resize(deflatedLength);
    static const char kBrotli[] =
        "\x1b\x5f\x00\xf8\x1d\xa9\x53\x9f\xbb\x70\x09\x22\x26\x57\x2c\x74\x99\xc6\xf6\x16"
        "\xb8\x85\x03\x64\x3f\x00";
    const std::map<std::string, std::string> encoded{
        {"gzip", gzip(text)}, {"deflate", deflated}, {"br", std::string(kBrotli, 26)}};

    server_.on("GET", "/named", HttpResponse::text(200, "ok"));
    auto session = mainSession();
    run(session, net::URLRequest(server_.url("/named")));
    const auto named = server_.requests().at(0).header("Accept-Encoding").value_or("");
    ASSERT_FALSE(named.empty());
    for (size_t start = 0; start < named.size();) {
        const size_t comma = std::min(named.find(',', start), named.size());
        std::string encoding = named.substr(start, comma - start);
        encoding.erase(0, encoding.find_first_not_of(' '));
        start = comma + 1;
        SCOPED_TRACE(encoding);
        auto body = encoded.find(encoding);
        ASSERT_NE(body, encoded.end()) << "an encoding this test cannot make";
        server_.on("GET", "/" + encoding,
                   HttpResponse::text(200, body->second).header("Content-Encoding", encoding));
        EXPECT_EQ(run(session, net::URLRequest(server_.url("/" + encoding)))->text(), text);
    }
    session->finishTasksAndInvalidate();
}

// Requests that may safely go twice share one connection, one after another: each new TLS
// connection costs a handshake and shows the session a trust challenge. A POST may not go twice,
// so it goes on a connection of its own, which no idle time-out of the server can have closed.
TEST_F(URLSessionTest, OnlyRequestsThatMayGoTwiceShareAKeptConnection) {
    server_.on("", "/a", HttpResponse::text(200, "ok"));
    auto session = mainSession();
    const net::URLRequest get(server_.url("/a"));
    const net::URLRequest post = postRequest("/a");
    net::URLRequest put = post;
    put.setHTTPMethod("PUT");
    net::URLRequest erase = get;
    erase.setHTTPMethod("DELETE");
    for (const auto& request : {get, put, erase, get})
        EXPECT_EQ(run(session, request)->text(), "ok");
    EXPECT_EQ(server_.connectionCount(), 1u);
    for (const auto& request : {post, post}) EXPECT_EQ(run(session, request)->text(), "ok");
    EXPECT_EQ(server_.requestCount(), 6u);
    EXPECT_EQ(server_.connectionCount(), 3u);
    session->finishTasksAndInvalidate();
}

// A kept connection that the server closes as the next request arrives costs that request one
// more try on a fresh connection, and only one: a fresh connection that fails is an error.
TEST_F(URLSessionTest, ARequestOnAConnectionTheServerClosedIsSentOnceMore) {
    server_.on("", "/a", HttpResponse::text(200, "first"));
    server_.on("", "/a", HttpResponse::closeConnection());
    server_.on("", "/a", HttpResponse::text(200, "again"));
    server_.on("", "/a", HttpResponse::closeConnection());
    auto session = mainSession();
    const net::URLRequest get(server_.url("/a"));
    EXPECT_EQ(run(session, get)->text(), "first");
    auto resent = run(session, get);
    EXPECT_FALSE(resent->error);
    EXPECT_EQ(resent->text(), "again");
    EXPECT_EQ(server_.requestCount(), 3u);
    EXPECT_EQ(server_.connectionCount(), 2u);

    // The connection that answered "again" is kept; closed under the next request, that one is
    // sent once more on a third connection, which the server closes too.
    auto failed = run(session, get);
    EXPECT_TRUE(failed->error);
    EXPECT_EQ(server_.requestCount(), 5u);
    EXPECT_EQ(server_.connectionCount(), 3u);
    session->finishTasksAndInvalidate();
}

// A server that reads a whole POST and then closes without answering may have acted on it (a
// registration made, a bundle stored): the POST is not sent again behind its caller's back, who
// gets the lost connection. A GET in the same place goes once more.
TEST_F(URLSessionTest, ARequestThatMayNotGoTwiceFailsWhenItsConnectionDropsUnanswered) {
    server_.on("", "/warm", HttpResponse::text(200, "kept"));
    server_.on("POST", "/register", HttpResponse::closeConnection());
    server_.on("GET", "/config", HttpResponse::closeConnection());
    server_.on("GET", "/config", HttpResponse::text(200, "config"));
    auto session = mainSession();
    auto count = [&](const std::string& method, const std::string& path) {
        size_t n = 0;
        for (const auto& r : server_.requests()) n += r.method == method && r.path == path;
        return n;
    };
    EXPECT_EQ(run(session, net::URLRequest(server_.url("/warm")))->text(), "kept");

    auto post = run(session, postRequest("/register"));
    EXPECT_EQ(post->errorCode(), net::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(count("POST", "/register"), 1u);
    EXPECT_EQ(server_.requests().back().body, "a=1");

    auto get = run(session, net::URLRequest(server_.url("/config")));
    EXPECT_FALSE(get->error) << get->errorCode();
    EXPECT_EQ(get->text(), "config");
    EXPECT_EQ(count("GET", "/config"), 2u);
    session->finishTasksAndInvalidate();
}

// Credentials go with a redirection only within the origin they were given to: neither the
// request's own nor the session's reach another host or another port; other fields go along.
TEST_F(URLSessionTest, CredentialsFollowARedirectionOnlyWithinTheirOrigin) {
    HttpsServer other{ca()};
    for (auto* server : {&server_, &other}) server->on("", "/landing", HttpResponse::text(200, ""));
    server_.on("", "/same", HttpResponse::redirect(307, "/landing"));
    server_.on("", "/host",
               HttpResponse::redirect(
                   307, "https://localhost:" + std::to_string(server_.port()) + "/landing"));
    server_.on("", "/port", HttpResponse::redirect(307, other.url("/landing").absoluteString()));
    const std::vector<std::string> credentials{"Authorization", "Cookie", "Proxy-Authorization"};
    struct Case {
        const char* path;
        HttpsServer* lands;
        bool keeps;
    };
    for (bool fromSession : {false, true}) {
        auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
        net::URLRequest request = postRequest("");
        net::HTTPHeaderFields fields{{"X-Kept", "1"}};
        for (const auto& name : credentials) fields[name] = "secret " + name;
        if (fromSession) {
            configuration.setHTTPAdditionalHeaders(fields);
        } else {
            request.setAllHTTPHeaderFields(fields);
        }
        auto session = mainSession(nullptr, configuration);
        for (const Case& c : {Case{"/same", &server_, true}, Case{"/host", &server_, false},
                              Case{"/port", &other, false}}) {
            request.setURL(server_.url(c.path));
            EXPECT_FALSE(run(session, request)->error);
            const auto landed = c.lands->requests().back();
            const std::string what = std::string(c.path) + (fromSession ? " (session)" : "");
            ASSERT_EQ(landed.path, "/landing") << what;
            EXPECT_EQ(landed.header("X-Kept"), "1") << what;
            for (const auto& name : credentials) {
                EXPECT_EQ(landed.header(name).has_value(), c.keeps) << what << " " << name;
            }
        }
        session->finishTasksAndInvalidate();
    }
    other.stop();
}

// A name that can never exist fails at once, without loading the transport's module: a
// program whose services are left unconfigured maps no HTTP library for them.
TEST_F(URLSessionTest, AReservedNameFailsWithoutLoadingTheTransport) {
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().provide(net::HTTPTransport::kClassName, "/nonexistent/net.so");
    testsupport::LogCapture log;
    auto outcome = run(mainSession(), net::URLRequest(*ns::URL::parse("https://logs.x.invalid/")));
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorCannotFindHost);
    EXPECT_EQ(log.count("/nonexistent/net.so"), 0u);
}

}  // namespace
