#include "platform/net/TransferEngine.h"

#include <algorithm>

#include "platform/net/CurlTransfer.h"
#include "platform/net/SigpipeGuard.h"

namespace net {

namespace {

constexpr int kIdlePollMs = 60'000;
constexpr int kBusyPollMs = 1'000;

}  // namespace

TransferEngine& TransferEngine::shared() {
    // Never destroyed: transfers may still be running while the process exits.
    static TransferEngine* engine = new TransferEngine();
    return *engine;
}

TransferEngine::TransferEngine() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    thread_ = std::thread([this] {
        // The library's TLS writes go through write(2): a peer that hung up must not end
        // the process.
        SigpipeGuard::blockForThisThread();
        run();
    });
    thread_.detach();
}

void TransferEngine::add(std::shared_ptr<CurlTransfer> transfer) {
    {
        dispatch::Lock lock(mutex_);
        toAdd_.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi_);
}

void TransferEngine::remove(uint64_t transferId) {
    {
        dispatch::Lock lock(mutex_);
        toRemove_.push_back(transferId);
    }
    curl_multi_wakeup(multi_);
}

void TransferEngine::run() {
    for (;;) {
        takeCommands();
        int running = 0;
        curl_multi_perform(multi_, &running);
        collectFinished();
        expireIdle();
        curl_multi_poll(multi_, nullptr, 0, pollTimeoutMs(), nullptr);
    }
}

void TransferEngine::takeCommands() {
    std::vector<std::shared_ptr<CurlTransfer>> adds;
    std::vector<uint64_t> removes;
    {
        dispatch::Lock lock(mutex_);
        adds.swap(toAdd_);
        removes.swap(toRemove_);
    }
    for (auto& transfer : adds) {
        uint64_t id = transfer->id();
        if (std::find(removes.begin(), removes.end(), id) != removes.end()) continue;
        if (transfer->hostNeverResolves()) {
            transfer->finish(CURLE_COULDNT_RESOLVE_HOST);
            continue;
        }
        if (curl_multi_add_handle(multi_, transfer->handle()) != CURLM_OK) {
            transfer->finish(CURLE_FAILED_INIT);
            continue;
        }
        active_.emplace(id, std::move(transfer));
    }
    for (uint64_t id : removes) {
        if (auto it = active_.find(id); it != active_.end()) drop(it);
    }
}

void TransferEngine::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        auto it = std::find_if(active_.begin(), active_.end(), [&](const auto& entry) {
            return entry.second->handle() == message->easy_handle;
        });
        if (it == active_.end()) continue;
        CURLcode code = message->data.result;
        auto transfer = it->second;
        drop(it);
        transfer->finish(code);
    }
}

void TransferEngine::expireIdle() {
    auto now = CurlTransfer::Clock::now();
    for (auto it = active_.begin(); it != active_.end();) {
        if (it->second->idleDeadline() > now) {
            ++it;
            continue;
        }
        auto transfer = it->second;
        auto next = std::next(it);
        drop(it);
        transfer->expireIdle();
        it = next;
    }
}

int TransferEngine::pollTimeoutMs() const {
    if (active_.empty()) return kIdlePollMs;
    long curlTimeout = -1;
    curl_multi_timeout(multi_, &curlTimeout);
    long timeout = curlTimeout < 0 ? kBusyPollMs : std::min<long>(curlTimeout, kBusyPollMs);
    auto now = CurlTransfer::Clock::now();
    for (const auto& [id, transfer] : active_) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(transfer->idleDeadline() - now)
                .count() +
            1;
        timeout = std::min<long>(timeout, std::max<long>(0, left));
    }
    return static_cast<int>(timeout);
}

void TransferEngine::drop(std::map<uint64_t, std::shared_ptr<CurlTransfer>>::iterator it) {
    curl_multi_remove_handle(multi_, it->second->handle());
    active_.erase(it);
}

}  // namespace net
