#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "plugins/push/NCMPushSink.h"

class NCMPlugin;

// The page's end of the push road: the plug-in instance that ran the page's last `ready`
// (every push reaches the page through it), the held notification, and the messages waiting
// for a listening page. The composition root makes one for the process; the plug-in's
// instances are made with it. Held by a shared pointer. Main thread; the lock keeps a stray
// caller safe.
class NCMPushPage final : public NCMPushSink, public std::enable_shared_from_this<NCMPushPage> {
public:
    void notifyOfMessage(std::string json) override;
    void holdPush(std::string json) override;
    std::optional<std::string> getLastPush() override;
    // Sent at once when nothing waits before it and a page is ready; otherwise it waits, and
    // so does one that finds the page not listening (loading again, say), in its place among
    // the others, for the page's next ready.
    void deliverMessage(std::string json, std::string messageID,
                        DeliveredHandler delivered) override;
    void notifyOfTokenRefresh(const std::optional<std::string>& token) override;
    void appEnterForeground() override;
    void appEnterBackground() override;
    bool isPageReady() const override;

    // From the plug-in: the instance that ran `ready`, which waiting messages now go to.
    void setReadyPlugin(std::shared_ptr<NCMPlugin> plugin);
    // Sends what waits to the ready instance (a page that was not listening yet may be now).
    void sendWaitingMessages();
    size_t waitingMessageCount() const;

private:
    struct PageMessage {
        std::string json;
        std::string messageID;
        DeliveredHandler delivered;
    };
    std::shared_ptr<NCMPlugin> readyPlugin() const;
    // One message of deliverMessage, numbered by its arrival.
    void sendMessage(NCMPlugin& plugin, uint64_t number, PageMessage message);

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<NCMPlugin> plugin_ GUARDED_BY(mutex_);
    std::optional<std::string> heldPush_ GUARDED_BY(mutex_);
    std::map<uint64_t, PageMessage> waitingMessages_ GUARDED_BY(mutex_);
    uint64_t nextWaitingNumber_ GUARDED_BY(mutex_) = 0;
};
