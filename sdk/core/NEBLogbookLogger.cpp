#include "sdk/core/NEBLogbookLogger.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/SharedInstance.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Device.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/NEBCoreTime.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "sdk/core/NEBServiceHosts.h"

namespace {

using SharedLogbook = ns::ReplaceableShared<NEBLogbookLogger>;

// A log-source directory name: the decimal number of a source the log request knows.
std::optional<int32_t> logSourceFromName(const std::string& name) {
    if (name.empty() || name.size() > 11) return std::nullopt;
    char* end = nullptr;
    long value = std::strtol(name.c_str(), &end, 10);
    if (*end != '\0' || !NEB_LOGBOOK::LogRequest_LogSource_IsValid(static_cast<int>(value))) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

// The names of the directories in a directory; none when it cannot be read.
std::vector<std::string> subdirectories(const std::string& path) {
    auto& files = ns::FileManager::defaultManager();
    auto names = files.contentsOfDirectory(path);
    if (!names.ok()) return {};
    std::erase_if(*names, [&](const std::string& name) {
        bool directory = false;
        return !files.fileExists(path + "/" + name, &directory) || !directory;
    });
    return *names;
}

// A queued file that stays would be posted again at every pass; one already gone is fine.
void removeQueuedFile(const std::string& path) {
    auto removed = ns::FileManager::defaultManager().removeItem(path);
    if (removed.ok() || removed.error().code() == ns::kFileNoSuchFileError) return;
    NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookRemoveFailed,
                    "Failed to delete log file %@, error: %@", path, removed.error());
}

}  // namespace

std::shared_ptr<NEBLogbookLogger> NEBLogbookLogger::sharedInstance() {
    return SharedLogbook::get([] {
        return create(NEBNetwork::create(),
                      ns::Sandbox::cachesDirectory() + "/" + kNEBLogbookDirectoryName);
    });
}

void NEBLogbookLogger::setSharedInstance(std::shared_ptr<NEBLogbookLogger> logger) {
    SharedLogbook::exchange(std::move(logger));
}

std::shared_ptr<NEBLogbookLogger> NEBLogbookLogger::create(std::shared_ptr<NEBNetwork> network,
                                                           std::string logDirectory) {
    auto logger = std::make_shared<NEBLogbookLogger>(std::move(network), std::move(logDirectory));
    std::weak_ptr<NEBLogbookLogger> weak = logger;
    logger->backgroundObserver_ = ns::NotificationCenter::defaultCenter().addObserver(
        ui::kApplicationDidEnterBackgroundNotification, nullptr, [weak](const ns::Notification&) {
            if (auto self = weak.lock()) self->applicationDidEnterBackground();
        });
    logger->stepOnQueue(&NEBLogbookLogger::scheduleNextSend);
    return logger;
}

NEBLogbookLogger::NEBLogbookLogger(std::shared_ptr<NEBNetwork> network, std::string logDirectory)
    : queue_(dispatch::Queue::createSerial(kNEBLogbookQueueLabel)),
      network_(std::move(network)),
      logDirectory_(std::move(logDirectory)) {
    if (auto url = ns::URL::parse(NEBServiceHosts::logbookServerURL())) serverURL_ = *url;
}

NEBLogbookLogger::~NEBLogbookLogger() {
    stopObservingApplication();
    chainStopped();
}

void NEBLogbookLogger::stopObservingApplication() {
    auto token = backgroundObserver_.exchange(0);
    if (token) ns::NotificationCenter::defaultCenter().removeObserver(token);
}

// ---- Queueing ----------------------------------------------------------------------------

void NEBLogbookLogger::logEvent(NEB_LOGBOOK::LogEvent event, int32_t logSource,
                                std::string account) {
    if (!event.has_event_time_ms()) event.set_event_time_ms(NEBCoreTimeMillis());
    if (!event.has_event_uptime_ms()) event.set_event_uptime_ms(NEBCoreUptimeMillis());
    std::weak_ptr<NEBLogbookLogger> weak = weak_from_this();
    queue_->async([weak, event = std::move(event), logSource, account = std::move(account)] {
        if (auto self = weak.lock()) self->writeEvent(event, logSource, account);
    });
}

NEBLogbookAccountData& NEBLogbookLogger::accountDataForAccount(const std::string& account) {
    auto& data = accounts_[account];
    if (!data) {
        data = std::make_unique<NEBLogbookAccountData>(
            logDirectory_ + "/" + NEBLogbookAccountData::directoryNameForAccount(account),
            kNEBLogbookMaxQueueNumBytes);
    }
    return *data;
}

void NEBLogbookLogger::writeEvent(const NEB_LOGBOOK::LogEvent& event, int32_t logSource,
                                  const std::string& account) {
    // Neither an empty account nor an unknown source could be told apart from the queue's own
    // layout when it is read back.
    const bool known = !account.empty() && NEB_LOGBOOK::LogRequest_LogSource_IsValid(logSource);
    NEBLogbookAccountData* data = known ? &accountDataForAccount(account) : nullptr;
    auto writer = data ? data->writerForLogSource(logSource) : nullptr;
    if (!writer || !writer->writeLogEvent(event)) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookWriteFailed,
                        "Failure to write data for account %@, logSource %d. Discarding.", account,
                        logSource);
        if (data) data->removeWriterForLogSource(logSource);
        return;
    }
    if (writer->numBytes() > maxRequestNumBytes_) {
        writer->close();
        data->removeWriterForLogSource(logSource);
    }
}

void NEBLogbookLogger::flushWriters() {
    for (auto& [account, data] : accounts_) data->flushWriters();
}

// ---- Sending -----------------------------------------------------------------------------

void NEBLogbookLogger::flushWithCompletionHandler(CompletionHandler completion) {
    std::weak_ptr<NEBLogbookLogger> weak = weak_from_this();
    queue_->async([weak, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        if (completion) self->completions_.push_back(std::move(completion));
        self->sendLogs();
    });
}

void NEBLogbookLogger::sendLogs() {
    if (backgroundTaskId_ == ui::kBackgroundTaskInvalid) {
        backgroundTaskId_ =
            ui::Application::shared().beginBackgroundTask(kNEBLogbookDirectoryName, nullptr);
    }
    if (auto observer = delegate()) observer->logbookLoggerWillSendLogs(*this);
    flushWriters();
    updatePendingRequests();
    sendNextPendingRequest();
}

void NEBLogbookLogger::updatePendingRequests() {
    for (const auto& accountName : subdirectories(logDirectory_)) {
        const auto accountPath = logDirectory_ + "/" + accountName;
        const auto account = ns::percentDecodeOrKeep(accountName);
        for (const auto& sourceName : subdirectories(accountPath)) {
            const auto logSource = logSourceFromName(sourceName);
            const auto sourcePath = accountPath + "/" + sourceName;
            auto queued = ns::FileManager::defaultManager().contentsOfDirectory(sourcePath);
            if (!logSource || !queued.ok()) continue;
            for (const auto& fileName : *queued) {
                auto path = sourcePath + "/" + fileName;
                bool known = path == inFlightPath_ ||
                             std::any_of(pendingRequests_.begin(), pendingRequests_.end(),
                                         [&path](const auto& r) { return r.path == path; });
                if (!known) pendingRequests_.push_back({*logSource, account, path});
            }
        }
    }
}

std::optional<NEBLogbookRequest> NEBLogbookLogger::nextPendingRequest() {
    if (pendingRequests_.empty()) return std::nullopt;
    auto request = std::move(pendingRequests_.back());
    pendingRequests_.pop_back();
    return request;
}

void NEBLogbookLogger::sendNextPendingRequest() {
    if (!network_) {
        chainStopped();
        return;
    }
    if (network_->hasUploadInProgress() || inFlightPath_) {
        NEBCoreLogDebug(kNEBLoggerCore, kNEBLoggerCoreLogbookAlreadySending,
                        "Already sending logs.");
        return;
    }
    if (uploadRetriesRemaining_ < 1) {
        chainStopped();
        return;
    }
    auto request = nextPendingRequest();
    if (!request) {
        scheduleNextSend();
        queueEmptied();
        return;
    }
    auto logRequest = logRequestFromPath(request->path, request->logSource);
    if (!logRequest) {
        removeQueuedFile(request->path);
        stepOnQueue(&NEBLogbookLogger::sendNextPendingRequest);
        return;
    }
    logRequest->set_request_time_ms(NEBCoreTimeMillis());
    logRequest->set_request_uptime_ms(NEBCoreUptimeMillis());
    auto payload = ns::Data::fromString(logRequest->SerializeAsString());

    inFlightPath_ = request->path;
    std::weak_ptr<NEBLogbookLogger> weak = weak_from_this();
    network_->postURL(
        serverURL(), payload, dispatch::Queue::global().shared_from_this(), false,
        [weak, request = *request](std::shared_ptr<const net::HTTPURLResponse> response,
                                   std::optional<ns::Data>, std::optional<ns::Error> error) {
            auto self = weak.lock();
            if (!self) return;
            self->queue_->async([self, request, response, error] {
                self->handlePostResult(request, response, error);
            });
        });
}

void NEBLogbookLogger::handlePostResult(const NEBLogbookRequest& request,
                                        const std::shared_ptr<const net::HTTPURLResponse>& response,
                                        const std::optional<ns::Error>& error) {
    inFlightPath_.reset();
    int status = response ? response->statusCode() : 0;
    if (!error && status == 200) {
        removeQueuedFile(request.path);
        NEBCoreLogDebug(kNEBLoggerCore, kNEBLoggerCoreLogbookPostCompleted,
                        "Logbook post completed.");
        uploadRetriesRemaining_ = kNEBLogbookUploadRetries;
        sendNextPendingRequest();
        return;
    }
    NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookPostFailed,
                    "Error posting to Logbook: %@, with Status Code: %ld",
                    error ? error->description() : std::string("(null)"),
                    static_cast<long>(status));
    --uploadRetriesRemaining_;
    scheduleNextSend();
    chainStopped();
}

std::optional<NEB_LOGBOOK::LogRequest> NEBLogbookLogger::logRequestFromPath(
    const std::string& path, int32_t logSource) const {
    auto attributes = ns::FileManager::defaultManager().attributesOfItem(path);
    if (!attributes.ok() || attributes->type != ns::FileType::Regular ||
        attributes->size > kNEBLogbookMaxFileNumBytes) {
        return std::nullopt;
    }
    auto contents = ns::FileManager::defaultManager().contentsAtPath(path);
    if (!contents.ok()) return std::nullopt;
    auto bytes = contents->chars();
    // A record cut short by a crash is left out; the whole ones before it still go.
    auto whole = NEBLogbookFileReader::wholeRecordsLength(bytes);
    if (whole == 0 || !NEB_LOGBOOK::LogRequest_LogSource_IsValid(logSource)) return std::nullopt;

    NEB_LOGBOOK::LogRequest request;
    request.set_log_source(static_cast<NEB_LOGBOOK::LogRequest_LogSource>(logSource));
    request.add_serialized_log_events(std::string(bytes.substr(0, whole)));
    auto* client = request.mutable_client_info();
    client->set_client_type(NEB_LOGBOOK::ClientInfo::IOS);
    auto* ios = client->mutable_ios_client_info();
    ios->set_application_build(applicationBuild());
    ios->set_os_full_version(ui::Device::current().systemVersion());
    if (auto identifier = installIdentifier(); identifier && !identifier->empty()) {
        ios->set_logging_id(*identifier);
    }
    if (auto cookie = clientCookie()) request.set_client_cookie(*cookie);
    return request;
}

void NEBLogbookLogger::scheduleNextSend() {
    if (sendScheduled_ || !network_) return;
    if (!network_->isNetworkConnected()) {
        network_->setReachabilityDelegate(weak_from_this());
        return;
    }
    network_->setReachabilityDelegate({});
    sendScheduled_ = true;
    std::weak_ptr<NEBLogbookLogger> weak = weak_from_this();
    queue_->asyncAfter(std::chrono::milliseconds(sendDelayMillis_), [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->sendScheduled_ = false;
        self->sendLogs();
    });
}

void NEBLogbookLogger::reachabilityDidChange() {
    stepOnQueue(&NEBLogbookLogger::scheduleNextSend);
}

void NEBLogbookLogger::stepOnQueue(void (NEBLogbookLogger::*step)()) {
    queue_->async([weak = weak_from_this(), step] {
        if (auto self = weak.lock()) (self.get()->*step)();
    });
}

// A chain of sends that stops before the queue is empty ends its background task; the files
// wait for the next pass.
void NEBLogbookLogger::chainStopped() {
    if (backgroundTaskId_ != ui::kBackgroundTaskInvalid) {
        ui::Application::shared().endBackgroundTask(backgroundTaskId_);
        backgroundTaskId_ = ui::kBackgroundTaskInvalid;
    }
}

void NEBLogbookLogger::queueEmptied() {
    chainStopped();
    auto completions = std::move(completions_);
    completions_.clear();
    for (auto& completion : completions) completion();
}
