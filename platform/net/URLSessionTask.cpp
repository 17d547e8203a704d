#include "platform/net/URLSessionTask.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "platform/net/BackgroundJob.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/net/ConnectivityWaiter.h"
#include "platform/net/HTTPTransport.h"
#include "platform/net/HostNames.h"
#include "platform/net/Origin.h"
#include "platform/net/ProtocolLoad.h"
#include "platform/net/URLError.h"
#include "platform/net/URLProtocol.h"
#include "platform/net/URLSession.h"
#include "platform/ns/Log.h"
#include "platform/ns/UUID.h"

namespace net {

namespace {

double positiveOrInfinite(double seconds) {
    return seconds > 0 ? seconds : std::numeric_limits<double>::infinity();
}

bool writeAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

URLSessionTask::URLSessionTask(const std::shared_ptr<URLSession>& session, Kind kind,
                               uint64_t identifier, URLRequest request, Body uploadBody)
    : kind_(kind),
      identifier_(identifier),
      original_(request),
      uploadBody_(std::move(uploadBody)),
      session_(session),
      current_(std::move(request)) {}

URLSessionTask::~URLSessionTask() {
    if (downloadFd_ >= 0) ::close(downloadFd_);
    if (!downloadPath_.empty()) ::unlink(downloadPath_.c_str());
}

URLRequest URLSessionTask::currentRequest() const {
    dispatch::Lock lock(mutex_);
    return current_;
}

std::shared_ptr<const URLResponse> URLSessionTask::response() const {
    dispatch::Lock lock(mutex_);
    return response_;
}

URLSessionTaskState URLSessionTask::state() const {
    dispatch::Lock lock(mutex_);
    return state_;
}

std::optional<ns::Error> URLSessionTask::error() const {
    dispatch::Lock lock(mutex_);
    return error_;
}

void URLSessionTask::resume() {
    auto session = session_.lock();
    if (!session) return;
    dispatch::Lock lock(mutex_);
    if (state_ != URLSessionTaskState::Suspended) return;
    state_ = URLSessionTaskState::Running;
    runningSession_ = session;
    persistBackgroundJobLocked(*session);
    startLoadLocked(current_);
}

void URLSessionTask::persistBackgroundJobLocked(const URLSession& session) {
    const auto& identifier = session.configuration().identifier();
    if (kind_ != Kind::Upload || !uploadBody_.file || !identifier || !backgroundJobId_.empty()) {
        return;
    }
    backgroundJobId_ = ns::UUID().UUIDString();
    BackgroundJobStore::claim(backgroundJobId_);
    URLRequest stored(original_.url(), original_.cachePolicy(), original_.timeoutInterval());
    stored.setHTTPMethod(original_.HTTPMethod());
    stored.setAllHTTPHeaderFields(original_.allHTTPHeaderFields());
    auto saved = BackgroundJobStore::save(
        BackgroundJob(backgroundJobId_, *identifier, stored, *uploadBody_.file));
    if (!saved) {
        ns::Log::write(ns::LogLevel::Error, "net", "background",
                       "Cannot keep a background upload on disk: " + saved.error().description());
    }
}

void URLSessionTask::cancel() {
    dispatch::Lock lock(mutex_);
    if (state_ == URLSessionTaskState::Completed || state_ == URLSessionTaskState::Canceling) {
        return;
    }
    state_ = URLSessionTaskState::Canceling;
    holdingEvents_ = false;
    heldEvents_.clear();
    deferredFinish_.reset();
    finishLocked(makeURLError(kURLErrorCancelled, current_.url()));
}

std::shared_ptr<URLSession> URLSessionTask::sessionLocked() const {
    return runningSession_ ? runningSession_ : session_.lock();
}

bool URLSessionTask::isCurrentLocked(uint64_t load) const {
    return state_ == URLSessionTaskState::Running && load == loadNumber_ && !deferredFinish_;
}

URLRequest URLSessionTask::preparedRequest(const URLRequest& request) const {
    URLRequest prepared = request;
    if (runningSession_) {
        // A request that sends no body (a GET after a 303, say) declares none, even where the
        // session's own fields describe one; and a redirection to another origin than the
        // task's own takes none of the session's credentials there.
        const bool elsewhere = !isSameOrigin(request.url(), original_.url());
        for (const auto& [name, value] : runningSession_->configuration().HTTPAdditionalHeaders()) {
            if (prepared.methodSendsNoBody() && describesBody(name)) continue;
            if (elsewhere && carriesCredentials(name)) continue;
            if (!prepared.valueForHTTPHeaderField(name)) prepared.setValue(value, name);
        }
    }
    return prepared;
}

void URLSessionTask::startLoadLocked(const URLRequest& request) {
    const uint64_t number = ++loadNumber_;
    load_ = makeLoad(request, number);
}

std::shared_ptr<Load> URLSessionTask::makeLoad(const URLRequest& request, uint64_t load) {
    URLRequest prepared = preparedRequest(request);
    if (auto protocolClass = URLProtocol::classForRequest(prepared)) {
        return ProtocolLoad::start(shared_from_this(), load, *protocolClass, prepared);
    }
    // A name that can never be found fails here, before the transport's module is loaded
    // for nothing.
    if (const auto host = prepared.url().host(); host && hostNeverResolves(*host)) {
        finishLocked(makeURLError(kURLErrorCannotFindHost, prepared.url(),
                                  "Could not resolve host: " + *host));
        return nullptr;
    }
    const auto transport = HTTPTransport::loaded();
    if (!transport) {
        finishLocked(makeURLError(kURLErrorUnknown, prepared.url(),
                                  "The network library is not available."));
        return nullptr;
    }
    const auto& configuration = runningSession_->configuration();
    HTTPTransport::Limits limits;
    limits.idleTimeout = std::min(positiveOrInfinite(prepared.timeoutInterval()),
                                  positiveOrInfinite(configuration.timeoutIntervalForRequest()));
    if (std::isinf(limits.idleTimeout)) limits.idleTimeout = 0;
    limits.resourceTimeout = configuration.timeoutIntervalForResource();
    limits.maximumResponseSize = configuration.maximumResponseSize();
    HTTPTransport::Body body;
    if (kind_ == Kind::Upload) {
        body = {uploadBody_.data, uploadBody_.file};
    } else {
        body = {prepared.HTTPBody(), prepared.HTTPBodyFile()};
    }
    auto transfer =
        transport->start(shared_from_this(), load, std::move(prepared), std::move(body), limits);
    if (!transfer) {
        finishLocked(transfer.error());
        return nullptr;
    }
    return *transfer;
}

void URLSessionTask::stopLoadLocked() {
    ++loadNumber_;
    if (auto load = std::move(load_)) load->stop();
}

void URLSessionTask::failLocked(int64_t code, const std::string& debugDescription) {
    finishLocked(makeURLError(code, current_.url(), debugDescription));
}

void URLSessionTask::finishLocked(std::optional<ns::Error> error) {
    if (state_ == URLSessionTaskState::Completed) return;
    stopLoadLocked();
    if (holdingEvents_) {
        deferredFinish_ = std::move(error);
        return;
    }
    state_ = URLSessionTaskState::Completed;
    error_ = error;
    closeDownloadFileLocked();

    std::optional<ns::Data> data;
    std::optional<std::string> path;
    if (!error) {
        if (kind_ == Kind::Download) {
            if (downloadPath_.empty() && !openDownloadFileLocked()) {
                error = makeURLError(kURLErrorCannotCreateFile, current_.url());
                error_ = error;
            }
            closeDownloadFileLocked();
            if (!error) path = std::exchange(downloadPath_, {});
        } else {
            data = std::move(body_);
        }
    }
    if (!downloadPath_.empty()) ::unlink(std::exchange(downloadPath_, {}).c_str());
    body_ = ns::Data();
    emitLocked(completionEvent(std::move(data), std::move(path), response_, error));
    runningSession_.reset();
}

bool URLSessionTask::openDownloadFileLocked() {
    if (downloadFd_ >= 0) return true;
    std::error_code ec;
    auto directory = std::filesystem::temp_directory_path(ec);
    if (ec) directory = "/tmp";
    std::string path = (directory / "net-download-XXXXXX").string();
    int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return false;
    downloadFd_ = fd;
    downloadPath_ = path;
    return true;
}

void URLSessionTask::closeDownloadFileLocked() {
    if (downloadFd_ >= 0) ::close(std::exchange(downloadFd_, -1));
}

bool URLSessionTask::appendBodyLocked(const uint8_t* bytes, size_t length) {
    const uint64_t maximum = runningSession_->configuration().maximumResponseSize();
    if (maximum > 0 && received_ + length > maximum) {
        failLocked(kURLErrorDataLengthExceedsMaximum);
        return false;
    }
    received_ += length;
    if (kind_ == Kind::Download) {
        if (!openDownloadFileLocked()) {
            failLocked(kURLErrorCannotCreateFile);
            return false;
        }
        if (!writeAll(downloadFd_, bytes, length)) {
            failLocked(kURLErrorCannotWriteToFile);
            return false;
        }
    } else if (deliversThroughDelegate()) {
        ns::Data chunk(bytes, length);
        auto self = shared_from_this();
        auto session = runningSession_;
        emitLocked([self, session, chunk = std::move(chunk)] {
            if (auto delegate = session->delegate())
                delegate->didReceiveData(*session, *self, chunk);
        });
    } else {
        body_.append(bytes, length);
    }
    return true;
}

void URLSessionTask::emitLocked(Event event) {
    if (holdingEvents_) {
        heldEvents_.push_back(std::move(event));
        return;
    }
    if (auto session = sessionLocked()) session->delegateQueue()->async(std::move(event));
}

URLSessionTask::Event URLSessionTask::completionEvent(std::optional<ns::Data> data,
                                                      std::optional<std::string> downloadPath,
                                                      std::shared_ptr<const URLResponse> response,
                                                      std::optional<ns::Error> error) {
    auto self = shared_from_this();
    auto session = sessionLocked();
    return [self, session, dataCompletion = std::move(dataCompletion_),
            downloadCompletion = std::move(downloadCompletion_), data = std::move(data),
            path = std::move(downloadPath), response = std::move(response),
            error = std::move(error)]() mutable {
        std::optional<ns::URL> location;
        if (path) location = ns::URL::fileURLWithPath(*path);
        if (dataCompletion) {
            dataCompletion(std::move(data), response, error);
        } else if (downloadCompletion) {
            downloadCompletion(location, response, error);
        } else if (auto delegate = session ? session->delegate() : nullptr) {
            if (location) delegate->didFinishDownloadingToURL(*session, *self, *location);
            delegate->didCompleteWithError(*session, *self, error);
        }
        if (path) ::unlink(path->c_str());
        if (session) session->taskDidComplete(self);
    };
}

void URLSessionTask::loadDidConnectSecurely(uint64_t load, std::shared_ptr<const ServerTrust> trust,
                                            int port) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load) || holdingEvents_ || !runningSession_->delegate()) return;
    URLAuthenticationChallenge challenge(URLProtectionSpace(
        trust->host(), port, "https", kURLAuthenticationMethodServerTrust, std::move(trust)));
    auto self = shared_from_this();
    auto session = runningSession_;
    emitLocked([self, session, challenge, load] {
        auto answered = std::make_shared<std::atomic<bool>>(false);
        auto handler = [self, load, answered](URLSessionAuthChallengeDisposition disposition,
                                              std::shared_ptr<const URLCredential>) {
            if (!answered->exchange(true)) self->answerChallenge(load, disposition);
        };
        if (auto delegate = session->delegate()) {
            delegate->didReceiveChallenge(*session, *self, challenge, handler);
        } else {
            handler(URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
        }
    });
    holdingEvents_ = true;
    challengedLoad_ = load;
}

void URLSessionTask::answerChallenge(uint64_t load,
                                     URLSessionAuthChallengeDisposition disposition) {
    dispatch::Lock lock(mutex_);
    if (!holdingEvents_ || load != challengedLoad_ || state_ == URLSessionTaskState::Completed) {
        return;
    }
    holdingEvents_ = false;
    if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge) {
        heldEvents_.clear();
        deferredFinish_.reset();
        state_ = URLSessionTaskState::Canceling;
        finishLocked(makeURLError(kURLErrorCancelled, current_.url()));
        return;
    }
    // The chain was verified before the challenge was raised, so every other answer goes on.
    for (auto& event : std::exchange(heldEvents_, {})) emitLocked(std::move(event));
    if (deferredFinish_) {
        auto error = std::move(*deferredFinish_);
        deferredFinish_.reset();
        finishLocked(std::move(error));
    }
}

void URLSessionTask::loadDidReceiveResponse(uint64_t load,
                                            std::shared_ptr<const URLResponse> response) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load)) return;
    response_ = response;
    if (kind_ == Kind::Download) {
        if (!openDownloadFileLocked()) failLocked(kURLErrorCannotCreateFile);
        return;
    }
    if (!deliversThroughDelegate()) return;
    auto self = shared_from_this();
    auto session = runningSession_;
    emitLocked([self, session, response] {
        if (auto delegate = session->delegate()) {
            delegate->didReceiveResponse(*session, *self, response);
        }
    });
}

bool URLSessionTask::loadDidReceiveData(uint64_t load, const uint8_t* bytes, size_t length) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load)) return false;
    return appendBodyLocked(bytes, length);
}

void URLSessionTask::loadWasRedirected(uint64_t load, URLRequest request,
                                       std::shared_ptr<const URLResponse> response, ns::Data body) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load)) return;
    stopLoadLocked();
    if (++redirections_ > kMaximumRedirections) {
        failLocked(kURLErrorHTTPTooManyRedirects);
        return;
    }
    if (!runningSession_->delegate()) {
        current_ = request;
        startLoadLocked(request);
        return;
    }
    const uint64_t token = loadNumber_;
    auto self = shared_from_this();
    auto session = runningSession_;
    emitLocked([self, session, token, request = std::move(request), response = std::move(response),
                body = std::move(body)] {
        auto answered = std::make_shared<std::atomic<bool>>(false);
        auto handler = [self, token, response, body, answered](std::optional<URLRequest> next) {
            if (!answered->exchange(true))
                self->answerRedirection(token, std::move(next), response, body);
        };
        if (auto delegate = session->delegate()) {
            delegate->willPerformHTTPRedirection(*session, *self, response, request, handler);
        } else {
            handler(request);
        }
    });
}

void URLSessionTask::answerRedirection(uint64_t load, std::optional<URLRequest> request,
                                       std::shared_ptr<const URLResponse> response, ns::Data body) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load) || load_) return;
    if (request) {
        current_ = *request;
        startLoadLocked(*request);
        return;
    }
    // Not followed: the redirection itself is the answer.
    response_ = response;
    if (kind_ != Kind::Download && deliversThroughDelegate()) {
        auto self = shared_from_this();
        auto session = runningSession_;
        emitLocked([self, session, response] {
            if (auto delegate = session->delegate()) {
                delegate->didReceiveResponse(*session, *self, response);
            }
        });
    }
    if (!body.empty() && !appendBodyLocked(body.bytes(), body.length())) return;
    finishLocked(std::nullopt);
}

bool URLSessionTask::waitsForConnectivityLocked(const std::optional<ns::Error>& error) const {
    // Only a background upload that heard nothing back yet starts over cleanly; the others
    // report the failure as it is.
    if (backgroundJobId_.empty() || response_ || !error || error->domain() != kURLErrorDomain) {
        return false;
    }
    switch (error->code()) {
        // Nothing of the request left: no network to send it on, no address for the name.
        case kURLErrorNotConnectedToInternet:
        case kURLErrorCannotFindHost:
            return true;
        // The server may have read the request whole, and acted on it, before the connection
        // went or went silent: only a request that may safely go twice goes again by itself.
        // Any other (a POST) fails with that error, and its caller decides.
        case kURLErrorNetworkConnectionLost:
        case kURLErrorTimedOut:
            return current_.methodIsIdempotent();
        default:
            return false;
    }
}

void URLSessionTask::loadDidFinish(uint64_t load, std::optional<ns::Error> error) {
    dispatch::Lock lock(mutex_);
    if (!isCurrentLocked(load)) return;
    if (waitsForConnectivityLocked(error)) {
        // The job stays on disk and with this task: uploaded anew once the network is back,
        // or by the next launch if the process ends first.
        stopLoadLocked();
        body_ = ns::Data();
        received_ = 0;
        std::weak_ptr<URLSessionTask> weak = shared_from_this();
        ConnectivityWaiter::whenReachable([weak] {
            auto self = weak.lock();
            if (!self) return;
            dispatch::Lock lock(self->mutex_);
            if (self->state_ == URLSessionTaskState::Running && !self->load_) {
                self->startLoadLocked(self->current_);
            }
        });
        return;
    }
    finishLocked(std::move(error));
}

}  // namespace net
