#include "sdk/messaging/NEBMessagingPubSub.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSDictionary+NEBMessaging.h"

namespace {

void answerOnMain(const NEBMessagingPubSub::Handler& handler, std::optional<ns::Error> error) {
    if (!handler) return;
    dispatch::Queue::main().async([handler, error = std::move(error)] { handler(error); });
}

bool isTopicCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '~' || c == '%' || c == '-';
}

}  // namespace

std::shared_ptr<NEBMessagingPubSub> NEBMessagingPubSub::create(
    std::weak_ptr<NEBMessagingClient> client, NEBMessagingPubSubCache::TokenSource token) {
    std::shared_ptr<NEBMessagingPubSub> made(new NEBMessagingPubSub(std::move(client)));
    made->cache_ = std::make_shared<NEBMessagingPubSubCache>(made, std::move(token));
    return made;
}

bool NEBMessagingPubSub::hasTopicsPrefix(const std::string& topic) {
    return topic.starts_with(kTopicsPrefix);
}

std::string NEBMessagingPubSub::addPrefixToTopic(const std::string& topic) {
    return hasTopicsPrefix(topic) ? topic : kTopicsPrefix + topic;
}

bool NEBMessagingPubSub::isValidTopicWithPrefix(const std::string& topic) {
    if (!hasTopicsPrefix(topic)) return false;
    std::string_view name = std::string_view(topic).substr(std::string_view(kTopicsPrefix).size());
    if (name.empty()) return false;
    for (char c : name) {
        if (!isTopicCharacter(c)) return false;
    }
    return true;
}

bool NEBMessagingPubSub::verifyPubSubOptions(const ns::Dictionary& options) {
    return !msg_hasNonStringKeysOrValues(options);
}

void NEBMessagingPubSub::subscribeWithToken(const std::string& token, const std::string& topic,
                                            const ns::Dictionary& options, Handler handler) {
    HYB_EXPECT_MAIN_THREAD();
    update(token, topic, options, false, std::move(handler));
}

void NEBMessagingPubSub::unsubscribeWithToken(const std::string& token, const std::string& topic,
                                              const ns::Dictionary& options, Handler handler) {
    HYB_EXPECT_MAIN_THREAD();
    update(token, topic, options, true, std::move(handler));
}

void NEBMessagingPubSub::update(const std::string& token, const std::string& topic,
                                const ns::Dictionary& options, bool shouldDelete, Handler handler) {
    auto& log = NEBMessagingSharedLogger();
    auto client = client_.lock();
    if (!client) return answerOnMain(handler, ns::Error(kNEBMessagingDomain, kErrorNoClient));
    if (!isValidTopicWithPrefix(topic)) {
        log.logFuncError(__func__, "Invalid NEBMessaging Pubsub topic %@", topic);
        return answerOnMain(handler, ns::Error(kNEBMessagingDomain, kErrorInvalidTopic));
    }
    if (!verifyPubSubOptions(options)) {
        log.logFuncError(__func__,
                         "Invalid options passed to NEBMessagingPubSub with non-string keys or "
                         "values.");
    }
    const ns::Dictionary kept = msg_trimNonStringValues(options);
    if (!shouldDelete &&
        cache_->verifyCacheEntryState(NEBMessagingPubSubCache::kSubscribed, topic, token, kept)) {
        return answerOnMain(handler, ns::Error(kNEBMessagingDomain, kErrorAlreadySubscribed));
    }
    std::weak_ptr<NEBMessagingPubSubCache> cache = cache_;
    client->updateSubscriptionWithToken(
        token, topic, kept, shouldDelete,
        [cache, token, topic, kept, shouldDelete, handler](std::optional<ns::Error> error) {
            if (!error) {
                if (auto held = cache.lock()) {
                    held->updateCacheForTopic(topic, token, kept,
                                              shouldDelete ? NEBMessagingPubSubCache::kUnsubscribed
                                                           : NEBMessagingPubSubCache::kSubscribed);
                }
            }
            answerOnMain(handler, std::move(error));
        });
}
