#include "sdk/messaging/NEBMessagingPubSubCache.h"

#include <chrono>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/UserDefaults.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingPubSub.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSDictionary+NEBMessaging.h"

namespace {

ns::Dictionary readTopics(const char* key) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    ns::Value stored = defaults->objectForKey(key);
    if (const ns::Dictionary* topics = stored.dictionary()) return *topics;
    defaults->setObject(key, ns::Value(ns::Dictionary{}));
    return {};
}

}  // namespace

NEBMessagingPubSubCache::NEBMessagingPubSubCache(std::weak_ptr<NEBMessagingPubSub> pubsub,
                                                 TokenSource token)
    : pubsub_(std::move(pubsub)),
      token_(std::move(token)),
      allTopics_(readTopics(kNEBMessagingAllTopicsKey)),
      subscribedTopics_(readTopics(kNEBMessagingSubscribedTopicsKey)) {}

void NEBMessagingPubSubCache::updateSet(const std::string& topic, const char* key,
                                        bool shouldRemove) {
    ns::Dictionary snapshot;
    {
        dispatch::Lock lock(mutex_);
        ns::Dictionary& set =
            std::string_view(key) == kNEBMessagingAllTopicsKey ? allTopics_ : subscribedTopics_;
        if (shouldRemove) {
            set.erase(topic);
        } else {
            set.insert_or_assign(
                topic, ns::Value(static_cast<int64_t>(NEBMessagingCurrentTimeMillis() / 1000)));
        }
        snapshot = set;
    }
    ns::UserDefaults::standardUserDefaults()->setObject(key, ns::Value(std::move(snapshot)));
}

void NEBMessagingPubSubCache::addTopic(const std::string& topic) {
    HYB_EXPECT_MAIN_THREAD();
    updateSet(topic, kNEBMessagingAllTopicsKey, false);
    scheduleSync(true);
}

void NEBMessagingPubSubCache::removeTopic(const std::string& topic) {
    HYB_EXPECT_MAIN_THREAD();
    updateSet(topic, kNEBMessagingAllTopicsKey, true);
    scheduleSync(true);
}

void NEBMessagingPubSubCache::didSubscribeToTopic(const std::string& topic) {
    updateSet(topic, kNEBMessagingSubscribedTopicsKey, false);
}

void NEBMessagingPubSubCache::didUnsubscribeFromTopic(const std::string& topic) {
    updateSet(topic, kNEBMessagingSubscribedTopicsKey, true);
}

std::string NEBMessagingPubSubCache::cacheKeyForTopic(const std::string& topic,
                                                      const std::string& token,
                                                      const std::string& options) {
    return token + "|" + topic + "|" + options + "|";
}

bool NEBMessagingPubSubCache::verifyCacheEntryState(State state, const std::string& topic,
                                                    const std::string& token,
                                                    const ns::Dictionary& options) const {
    std::string key = cacheKeyForTopic(topic, token, msg_string(options));
    ns::Value entry = ns::UserDefaults::standardUserDefaults()->objectForKey(key);
    const ns::Array* pair = entry.array();
    if (!pair || pair->size() != 2) return false;
    return isCacheEntryValidWithTime((*pair)[1].integerValue()) &&
           (*pair)[0].integerValue() == state;
}

// Runs on the request's completion queue: the user defaults take writes from any thread.
void NEBMessagingPubSubCache::updateCacheForTopic(const std::string& topic,
                                                  const std::string& token,
                                                  const ns::Dictionary& options, State state) {
    std::string key = cacheKeyForTopic(topic, token, msg_string(options));
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObject(key, ns::Value(ns::Array{ns::Value(static_cast<int64_t>(state)),
                                                 ns::Value(NEBMessagingCurrentTimeMillis())}));
    defaults->synchronize();
}

bool NEBMessagingPubSubCache::isCacheEntryValidWithTime(int64_t millis) {
    int64_t age = 0;
    if (__builtin_sub_overflow(NEBMessagingCurrentTimeMillis(), millis, &age)) return false;
    return age >= 0 && age <= kCacheRefreshIntervalMillis;
}

int64_t NEBMessagingPubSubCache::calculateNextSyncTimestampMillis() const {
    int64_t now = NEBMessagingCurrentTimeMillis();
    int64_t spaced = lastSyncTimestampMillis_ + kSyncSpacingMillis;
    return spaced > now ? spaced : now + kSyncDelayMillis;
}

void NEBMessagingPubSubCache::scheduleSync(bool immediately) {
    HYB_EXPECT_MAIN_THREAD();
    int64_t now = NEBMessagingCurrentTimeMillis();
    int64_t next = calculateNextSyncTimestampMillis();
    std::weak_ptr<NEBMessagingPubSubCache> weak = weak_from_this();
    if (immediately) {
        nextScheduledSyncTimestampMillis_ = now;
        dispatch::Queue::main().async([weak] {
            if (auto self = weak.lock()) self->synchronizeTopics(false);
        });
        return;
    }
    if (next == nextScheduledSyncTimestampMillis_) return;
    nextScheduledSyncTimestampMillis_ = next;
    dispatch::Queue::main().asyncAfter(std::chrono::seconds((next - now) / 1000), [weak] {
        if (auto self = weak.lock()) self->synchronizeTopics(false);
    });
}

std::vector<std::string> NEBMessagingPubSubCache::topicsToSubscribeTo() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> topics;
    for (const auto& [topic, time] : allTopics_) {
        if (!subscribedTopics_.contains(topic)) topics.push_back(topic);
    }
    return topics;
}

std::vector<std::string> NEBMessagingPubSubCache::topicsToUnsubscribeFrom() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> topics;
    for (const auto& [topic, time] : subscribedTopics_) {
        if (!allTopics_.contains(topic)) topics.push_back(topic);
    }
    return topics;
}

void NEBMessagingPubSubCache::synchronizeTopics(bool immediately) {
    HYB_EXPECT_MAIN_THREAD();
    auto subscribe = topicsToSubscribeTo();
    auto unsubscribe = topicsToUnsubscribeFrom();
    std::string token = token_ ? token_() : "";
    auto pubsub = pubsub_.lock();
    if (token.empty() || !pubsub) return;
    lastSyncTimestampMillis_ = NEBMessagingCurrentTimeMillis();
    std::weak_ptr<NEBMessagingPubSubCache> weak = weak_from_this();
    // A topic whose request is still out is left to it: a second request for the same
    // registration would be refused as in progress and logged as a failure, and one sent just
    // after the first completed, before its answer is recorded here, would register it twice.
    // The sync that sent the request has scheduled the next one, which retries a failure.
    for (const auto& topic : subscribe) {
        if (!topicsInFlight_.insert(topic).second) continue;
        ++subscribeTopicsSyncCount_;
        pubsub->subscribeWithToken(token, topic, {}, [weak, topic](std::optional<ns::Error> error) {
            auto self = weak.lock();
            if (!self) return;
            --self->subscribeTopicsSyncCount_;
            self->topicsInFlight_.erase(topic);
            // A valid entry from an earlier request means the server has the topic already:
            // without taking that as confirmation the topic would be retried for three days.
            if (error && error->code() != NEBMessagingPubSub::kErrorAlreadySubscribed) return;
            NEBMessagingSharedLogger().logFuncInfo("synchronizeTopics",
                                                   "Successfully subscribe to topic: %@", topic);
            self->didSubscribeToTopic(topic);
        });
    }
    for (const auto& topic : unsubscribe) {
        if (!topicsInFlight_.insert(topic).second) continue;
        ++unsubscribeTopicsSyncCount_;
        pubsub->unsubscribeWithToken(
            token, topic, {}, [weak, topic](std::optional<ns::Error> error) {
                auto self = weak.lock();
                if (!self) return;
                --self->unsubscribeTopicsSyncCount_;
                self->topicsInFlight_.erase(topic);
                if (error) return;
                NEBMessagingSharedLogger().logFuncInfo(
                    "synchronizeTopics", "Successfully unsubscribe to topic: %@", topic);
                self->didUnsubscribeFromTopic(topic);
            });
    }
    if (!subscribe.empty() || !unsubscribe.empty()) scheduleSync(immediately);
}

ns::Dictionary NEBMessagingPubSubCache::allTopics() const {
    dispatch::Lock lock(mutex_);
    return allTopics_;
}

ns::Dictionary NEBMessagingPubSubCache::subscribedTopics() const {
    dispatch::Lock lock(mutex_);
    return subscribedTopics_;
}
