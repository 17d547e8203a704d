#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Value.h"

class NEBMessagingPubSub;

inline constexpr const char* kNEBMessagingAllTopicsKey = "com.nebula.messaging.all-topics";
inline constexpr const char* kNEBMessagingSubscribedTopicsKey =
    "com.nebula.messaging.subscribed-topics";

// The topics the application wants and those the server has confirmed, both kept in the user
// defaults, and the synchronisation that subscribes and unsubscribes until they agree; plus a
// per-registration entry saying when a request last succeeded. Main thread, except the
// registration entries, which the request's completion queue writes.
class NEBMessagingPubSubCache : public std::enable_shared_from_this<NEBMessagingPubSubCache> {
public:
    static constexpr int64_t kCacheRefreshIntervalMillis = 259200000;
    static constexpr int64_t kSyncSpacingMillis = 120000;
    static constexpr int64_t kSyncDelayMillis = 2000;
    enum State : int { kSubscribed = 1, kUnsubscribed = 2 };

    // The token that syncs use: the facade's default token when it has one.
    using TokenSource = std::function<std::string()>;

    NEBMessagingPubSubCache(std::weak_ptr<NEBMessagingPubSub> pubsub, TokenSource token);

    void addTopic(const std::string& topic);
    void removeTopic(const std::string& topic);
    void didSubscribeToTopic(const std::string& topic);
    void didUnsubscribeFromTopic(const std::string& topic);

    static std::string cacheKeyForTopic(const std::string& topic, const std::string& token,
                                        const std::string& options);
    bool verifyCacheEntryState(State state, const std::string& topic, const std::string& token,
                               const ns::Dictionary& options) const;
    void updateCacheForTopic(const std::string& topic, const std::string& token,
                             const ns::Dictionary& options, State state);
    static bool isCacheEntryValidWithTime(int64_t millis);

    void scheduleSync(bool immediately);
    void synchronizeTopics(bool immediately);
    int64_t calculateNextSyncTimestampMillis() const;
    std::vector<std::string> topicsToSubscribeTo() const;
    std::vector<std::string> topicsToUnsubscribeFrom() const;

    ns::Dictionary allTopics() const;
    ns::Dictionary subscribedTopics() const;
    int64_t nextScheduledSyncTimestampMillis() const { return nextScheduledSyncTimestampMillis_; }
    // Requests of the syncs still waiting for their answer.
    int32_t subscribeTopicsSyncCount() const { return subscribeTopicsSyncCount_; }
    int32_t unsubscribeTopicsSyncCount() const { return unsubscribeTopicsSyncCount_; }

private:
    // The set kept under `key` (all or subscribed topics) and its copy in the defaults.
    void updateSet(const std::string& topic, const char* key, bool shouldRemove);

    std::weak_ptr<NEBMessagingPubSub> pubsub_;
    TokenSource token_;
    mutable dispatch::Mutex mutex_;
    ns::Dictionary allTopics_ GUARDED_BY(mutex_);
    ns::Dictionary subscribedTopics_ GUARDED_BY(mutex_);
    // Main thread.
    int64_t lastSyncTimestampMillis_ = 0;
    int64_t nextScheduledSyncTimestampMillis_ = 0;
    int32_t subscribeTopicsSyncCount_ = 0;
    int32_t unsubscribeTopicsSyncCount_ = 0;
    // Topics whose request a sync has sent and whose answer has not come back yet: a second
    // sync leaves them to that request (main thread).
    std::set<std::string> topicsInFlight_;
};
