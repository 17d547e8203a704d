#pragma once

#include <functional>
#include <optional>
#include <string>

// Where the application's push side hands what is meant for the page: notifications, the one
// opened notification held for the page, socket messages that must reach it, refreshed tokens,
// and the application's moves between foreground and background. The push plug-in implements
// it (NCMPushPage) and the composition root hands it to the application delegate. Messages are
// JSON text (NCMPlugin::messageJSON). Main thread.
class NCMPushSink {
public:
    using DeliveredHandler = std::function<void(const std::string& messageID)>;

    virtual ~NCMPushSink() = default;

    // To the page at once; dropped while no page has said it is ready.
    virtual void notifyOfMessage(std::string json) = 0;
    // Kept, replacing any other, until the page asks for it or comes back to the foreground.
    virtual void holdPush(std::string json) = 0;
    // The held notification, taken once.
    virtual std::optional<std::string> getLastPush() = 0;
    // To the page, waiting for it while it is not listening; `delivered` hears the message's id
    // once the page's callback has run with it.
    virtual void deliverMessage(std::string json, std::string messageID,
                                DeliveredHandler delivered) = 0;
    virtual void notifyOfTokenRefresh(const std::optional<std::string>& token) = 0;
    virtual void appEnterForeground() = 0;
    virtual void appEnterBackground() = 0;
    // Whether a page has said it is ready for pushes.
    virtual bool isPageReady() const = 0;
};
