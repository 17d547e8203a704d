#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/Value.h"
#include "sdk/messaging/NEBMessagingPubSubCache.h"

class NEBMessagingClient;

// The topic front: checks the topic name and options, answers from the registration cache
// when a subscription is still known to be valid, and otherwise sends the request through the
// client. Handlers run on the main queue. Main thread.
class NEBMessagingPubSub : public std::enable_shared_from_this<NEBMessagingPubSub> {
public:
    using Handler = std::function<void(std::optional<ns::Error> error)>;
    static constexpr int64_t kErrorAlreadySubscribed = 3001;
    static constexpr int64_t kErrorInvalidTopic = 3003;
    static constexpr int64_t kErrorNoClient = 3004;
    static constexpr const char* kTopicsPrefix = "/topics/";

    static std::shared_ptr<NEBMessagingPubSub> create(std::weak_ptr<NEBMessagingClient> client,
                                                      NEBMessagingPubSubCache::TokenSource token);

    static bool hasTopicsPrefix(const std::string& topic);
    static std::string addPrefixToTopic(const std::string& topic);
    // The prefix and one or more of [A-Za-z0-9_.~%-], nothing else.
    static bool isValidTopicWithPrefix(const std::string& topic);
    static bool verifyPubSubOptions(const ns::Dictionary& options);

    void subscribeWithToken(const std::string& token, const std::string& topic,
                            const ns::Dictionary& options, Handler handler);
    void unsubscribeWithToken(const std::string& token, const std::string& topic,
                              const ns::Dictionary& options, Handler handler);
    void addTopic(const std::string& topic) { cache_->addTopic(topic); }
    void removeTopic(const std::string& topic) { cache_->removeTopic(topic); }
    void scheduleSync(bool immediately) { cache_->scheduleSync(immediately); }
    const std::shared_ptr<NEBMessagingPubSubCache>& cache() const { return cache_; }

private:
    explicit NEBMessagingPubSub(std::weak_ptr<NEBMessagingClient> client)
        : client_(std::move(client)) {}
    void update(const std::string& token, const std::string& topic, const ns::Dictionary& options,
                bool shouldDelete, Handler handler);

    std::weak_ptr<NEBMessagingClient> client_;
    std::shared_ptr<NEBMessagingPubSubCache> cache_;
};
