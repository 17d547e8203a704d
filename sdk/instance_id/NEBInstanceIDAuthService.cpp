#include "sdk/instance_id/NEBInstanceIDAuthService.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

NEBInstanceIDAuthService::NEBInstanceIDAuthService(
    std::shared_ptr<NEBInstanceIDCheckinService> checkinService,
    std::shared_ptr<NEBInstanceIDStore> store, std::shared_ptr<const NEBServices> services)
    : services_(std::move(services)),
      store_(std::move(store)),
      checkinService_(std::move(checkinService)) {}

std::shared_ptr<NEBInstanceIDAuthService> NEBInstanceIDAuthService::withStore(
    std::shared_ptr<NEBInstanceIDStore> store, std::shared_ptr<const NEBServices> services) {
    auto service =
        std::make_shared<NEBInstanceIDCheckinService>(store, services->requests().checkin);
    return std::make_shared<NEBInstanceIDAuthService>(std::move(service), std::move(store),
                                                      std::move(services));
}

bool NEBInstanceIDAuthService::hasValidCheckinInfo() const {
    auto preferences = checkinService_->checkinPreferences();
    return preferences && preferences->hasValidCheckinInfo();
}

NEBInstanceIDCheckinService::Preferences NEBInstanceIDAuthService::checkinPreferences() const {
    return checkinService_->checkinPreferences();
}

std::string NEBInstanceIDAuthService::checkinAuthToken() const {
    auto preferences = checkinService_->checkinPreferences();
    if (!preferences) return ":";
    return preferences->deviceID() + ":" + preferences->secretToken();
}

void NEBInstanceIDAuthService::scheduleCheckin(bool immediately) {
    HYB_EXPECT_MAIN_THREAD();
    if (hasValidCheckinInfo()) return;
    int64_t now = NEBInstanceIDCurrentTimestampInSeconds();
    int64_t delay = calculateNextCheckinRetryIntervalInSeconds();
    std::weak_ptr<NEBInstanceIDAuthService> weak = weak_from_this();
    if (immediately) {
        nextScheduledCheckinIntervalSeconds_ = now == 0 ? 1 : now;
        dispatch::Queue::main().async([weak] {
            if (auto self = weak.lock()) self->doCheckin();
        });
        return;
    }
    if (nextScheduledCheckinIntervalSeconds_ != 0) return;
    nextScheduledCheckinIntervalSeconds_ = delay;
    dispatch::Queue::main().asyncAfter(dispatch::seconds(static_cast<double>(delay)), [weak] {
        if (auto self = weak.lock()) self->doCheckin();
    });
}

void NEBInstanceIDAuthService::doCheckin() {
    HYB_EXPECT_MAIN_THREAD();
    if (hasValidCheckinInfo()) return;
    nextScheduledCheckinIntervalSeconds_ = 0;
    std::weak_ptr<NEBInstanceIDAuthService> weak = weak_from_this();
    fetchCheckinInfoWithHandler([weak](auto, std::optional<ns::Error> error) {
        auto self = weak.lock();
        if (!self) return;
        ++self->checkinRetryCount_;
        if (error && error->code() != kNEBInstanceIDErrorCodePending) {
            self->scheduleCheckin(false);
        }
    });
}

int64_t NEBInstanceIDAuthService::calculateNextCheckinRetryIntervalInSeconds() const {
    HYB_EXPECT_MAIN_THREAD();
    return static_cast<int64_t>(services_->backoff().checkin.delay(checkinRetryCount_).value_or(0));
}

void NEBInstanceIDAuthService::fetchCheckinInfoWithHandler(Handler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (isCheckinInProgress_) {
        handler(nullptr, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodePending));
        return;
    }
    if (hasValidCheckinInfo()) {
        handler(checkinService_->checkinPreferences(), std::nullopt);
        return;
    }
    isCheckinInProgress_ = true;
    std::weak_ptr<NEBInstanceIDAuthService> weak = weak_from_this();
    checkinService_->checkinWithCompletion(
        [weak, handler = std::move(handler)](NEBInstanceIDCheckinService::Preferences preferences,
                                             std::optional<ns::Error> error) mutable {
            dispatch::Queue::main().async([weak, handler = std::move(handler),
                                           preferences = std::move(preferences),
                                           error = std::move(error)] {
                if (auto self = weak.lock()) self->isCheckinInProgress_ = false;
                handler(preferences, error);
            });
        });
}

void NEBInstanceIDAuthService::stopCheckinRequest() {
    checkinService_->stopFetching();
}

std::optional<std::string> NEBInstanceIDAuthService::cachedIIDAuthTokenForAuthorizedEntity(
    const std::string& entity) {
    {
        dispatch::Lock lock(tokensMutex_);
        auto found = authTokenBySenderID_.find(entity);
        if (found != authTokenBySenderID_.end()) return found->second;
    }
    auto stored = store_->tokenWithAuthorizedEntity(entity, kNEBInstanceIDAllScopeIdentifier);
    if (stored) {
        dispatch::Lock lock(tokensMutex_);
        authTokenBySenderID_[entity] = *stored;
    }
    return stored;
}

void NEBInstanceIDAuthService::saveIIDAuthToken(const std::string& token,
                                                const std::string& entity) {
    if (cachedIIDAuthTokenForAuthorizedEntity(entity) == token) return;
    store_->saveToken(token, entity, kNEBInstanceIDAllScopeIdentifier);
    // The next request for this entity must carry the new token, not the one read before.
    dispatch::Lock lock(tokensMutex_);
    authTokenBySenderID_[entity] = token;
}
