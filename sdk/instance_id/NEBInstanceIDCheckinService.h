#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Mutex.h"
#include "platform/net/URLSessionTask.h"
#include "platform/ns/Error.h"
#include "platform/ns/Result.h"
#include "sdk/core/NEBRequestSession.h"
#include "sdk/instance_id/NEBInstanceIDCheckinCache.h"
#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"

// One device check-in exchange with the check-in service: a JSON description of the device
// out, device ID, secret and settings back. The preferences it holds are replaced whole, so
// readers on other queues always see one complete check-in.
class NEBInstanceIDCheckinService
    : public std::enable_shared_from_this<NEBInstanceIDCheckinService> {
public:
    using Preferences = std::shared_ptr<const NEBInstanceIDCheckinPreferences>;
    using Completion = std::function<void(Preferences, std::optional<ns::Error>)>;

    // What an answer holds. The credentials are the decimal digits exactly as sent.
    struct Response {
        std::string deviceID;
        std::string secretToken;
        std::optional<int64_t> timeMillis;
        std::string digest;
        std::string versionInfo;
        std::string deviceDataVersion;
        ns::Dictionary settings;
    };

    // What stands in for the network when a test block is set: it gets the request and answers
    // through the handler as the network would (body, response, error), on any thread.
    using ResponseHandler = net::URLSessionTask::DataCompletion;
    using TestBlock = std::function<void(const net::URLRequest& request, ResponseHandler handler)>;

    // `limits`: those of a check-in (NEBRequestPolicies::checkin).
    NEBInstanceIDCheckinService(std::weak_ptr<NEBInstanceIDCheckinCache> cache,
                                const NEBRequestLimits& limits);
    // Also clears the class-wide test block, as the platform's service does when it goes.
    ~NEBInstanceIDCheckinService();

    // The class-wide substitute transport: while one is set, check-ins make no network request.
    // An empty block clears it.
    static void setCheckinTestBlock(TestBlock block);

    // Malformed JSON is the reader's error; fields of the wrong kind count as absent; a device
    // ID that is absent, no integer, or beyond 64 bits (where its digits could not be kept) is
    // error 7.
    static ns::Result<Response> parseCheckinResponse(std::string_view body);

    Preferences checkinPreferences() const;
    // The completion runs on the session's queue.
    void checkinWithCompletion(Completion completion);
    void stopFetching();
    bool hasCachedDeviceID(std::string_view deviceID, std::string_view secret) const;
    // The request body (JSON text).
    std::string checkinParameters() const;

private:
    void handleResponse(const ns::Result<NEBReply>& reply, const Completion& completion);

    std::weak_ptr<NEBInstanceIDCheckinCache> cache_;
    mutable dispatch::Mutex mutex_;
    Preferences preferences_ GUARDED_BY(mutex_);
    NEBRequestSession session_;
};
