#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceIDCheckinService.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"

// The device's check-in credentials for the rest of instance identity: whether a valid
// check-in is held, one exchange at a time, scheduled check-ins with back-off, the credential
// text of registration requests and the per-entity auth tokens that registration returns.
//
// Scheduling, the in-progress flag and the retry count live on the main queue: every
// completion of an exchange is carried there before it touches them.
class NEBInstanceIDAuthService : public std::enable_shared_from_this<NEBInstanceIDAuthService> {
public:
    using Handler = NEBInstanceIDCheckinService::Completion;

    NEBInstanceIDAuthService(std::shared_ptr<NEBInstanceIDCheckinService> checkinService,
                             std::shared_ptr<NEBInstanceIDStore> store,
                             std::shared_ptr<const NEBServices> services);
    static std::shared_ptr<NEBInstanceIDAuthService> withStore(
        std::shared_ptr<NEBInstanceIDStore> store, std::shared_ptr<const NEBServices> services);

    // What instance identity's parts stand on (its registration clients take their limits and
    // retry rule from it).
    const std::shared_ptr<const NEBServices>& services() const { return services_; }

    bool hasValidCheckinInfo() const;
    NEBInstanceIDCheckinService::Preferences checkinPreferences() const;
    // "deviceID:secret".
    std::string checkinAuthToken() const;

    void scheduleCheckin(bool immediately);
    void doCheckin();
    int64_t calculateNextCheckinRetryIntervalInSeconds() const;
    // The handler runs on the main queue.
    void fetchCheckinInfoWithHandler(Handler handler);
    void stopCheckinRequest();

    std::optional<std::string> cachedIIDAuthTokenForAuthorizedEntity(const std::string& entity);
    void saveIIDAuthToken(const std::string& token, const std::string& entity);

    bool allowMissingAPNSToken() const { return allowMissingAPNSToken_; }
    void setAllowMissingAPNSToken(bool allow) { allowMissingAPNSToken_ = allow; }
    const std::shared_ptr<NEBInstanceIDStore>& store() const { return store_; }

    bool isCheckinInProgress() const { return isCheckinInProgress_; }
    int32_t checkinRetryCount() const { return checkinRetryCount_; }

private:
    std::shared_ptr<const NEBServices> services_;
    std::shared_ptr<NEBInstanceIDStore> store_;
    std::shared_ptr<NEBInstanceIDCheckinService> checkinService_;
    dispatch::Mutex tokensMutex_;
    std::map<std::string, std::string> authTokenBySenderID_ GUARDED_BY(tokensMutex_);
    // Main queue only.
    bool isCheckinInProgress_ = false;
    int64_t nextScheduledCheckinIntervalSeconds_ = 0;
    int32_t checkinRetryCount_ = 0;
    bool allowMissingAPNSToken_ = false;
};
