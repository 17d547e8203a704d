#include "plugins/push/NCMPushPage.h"

#include "plugins/push/NCMPlugin.h"

std::shared_ptr<NCMPlugin> NCMPushPage::readyPlugin() const {
    dispatch::Lock lock(mutex_);
    return plugin_;
}

bool NCMPushPage::isPageReady() const {
    return readyPlugin() != nullptr;
}

void NCMPushPage::notifyOfMessage(std::string json) {
    if (auto plugin = readyPlugin()) plugin->notifyOfMessage(std::move(json));
}

void NCMPushPage::holdPush(std::string json) {
    dispatch::Lock lock(mutex_);
    heldPush_ = std::move(json);
}

std::optional<std::string> NCMPushPage::getLastPush() {
    dispatch::Lock lock(mutex_);
    return std::exchange(heldPush_, std::nullopt);
}

void NCMPushPage::notifyOfTokenRefresh(const std::optional<std::string>& token) {
    if (auto plugin = readyPlugin()) plugin->notifyOfTokenRefresh(token);
}

void NCMPushPage::appEnterForeground() {
    if (auto plugin = readyPlugin()) plugin->appEnterForeground();
}

void NCMPushPage::appEnterBackground() {
    if (auto plugin = readyPlugin()) plugin->appEnterBackground();
}

void NCMPushPage::setReadyPlugin(std::shared_ptr<NCMPlugin> plugin) {
    {
        dispatch::Lock lock(mutex_);
        plugin_ = std::move(plugin);
    }
    sendWaitingMessages();
}

void NCMPushPage::deliverMessage(std::string json, std::string messageID,
                                 DeliveredHandler delivered) {
    PageMessage message{std::move(json), std::move(messageID), std::move(delivered)};
    std::shared_ptr<NCMPlugin> plugin;
    uint64_t number = 0;
    {
        dispatch::Lock lock(mutex_);
        number = nextWaitingNumber_++;
        if (!plugin_ || !waitingMessages_.empty()) {
            waitingMessages_.emplace(number, std::move(message));
            return;
        }
        plugin = plugin_;
    }
    sendMessage(*plugin, number, std::move(message));
}

void NCMPushPage::sendMessage(NCMPlugin& plugin, uint64_t number, PageMessage message) {
    // The text stays with the handler, to put the message back in its place when the page
    // was not listening.
    std::string json = message.json;
    std::weak_ptr<NCMPushPage> weak = weak_from_this();
    plugin.notifyOfMessage(std::move(json), [weak, number, message = std::move(message)](
                                                NCMPlugin::PageAnswer answer) mutable {
        if (answer == NCMPlugin::PageAnswer::Delivered) {
            if (message.delivered) message.delivered(message.messageID);
            return;
        }
        auto self = weak.lock();
        if (!self) return;
        dispatch::Lock lock(self->mutex_);
        self->waitingMessages_.emplace(number, std::move(message));
    });
}

size_t NCMPushPage::waitingMessageCount() const {
    dispatch::Lock lock(mutex_);
    return waitingMessages_.size();
}

void NCMPushPage::sendWaitingMessages() {
    std::shared_ptr<NCMPlugin> plugin;
    std::map<uint64_t, PageMessage> sending;
    {
        dispatch::Lock lock(mutex_);
        if (!plugin_) return;
        plugin = plugin_;
        sending.swap(waitingMessages_);
    }
    for (auto& [number, message] : sending) sendMessage(*plugin, number, std::move(message));
}
