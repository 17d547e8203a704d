#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Error.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "sdk/core/NEBRequestSession.h"

class NEBMessagingCheckinService;

// One topic registration request (per token, topic and options): an HTTPS form POST to the
// registration endpoint, authorised with the check-in credentials, answered by one line
// "token=<value>". It runs on a request session of the SDK with the limits it is given (the
// services' topic registration row); a cancelled client sends its next request on a new
// session. The handler runs on the session's completion queue.
class NEBMessagingPubsubRegistrationClient {
public:
    using Handler =
        std::function<void(std::optional<std::string> result, std::optional<ns::Error> error)>;
    // The error of a reply that holds no token.
    static constexpr int64_t kErrorInvalidReply = 0;

    NEBMessagingPubsubRegistrationClient(std::shared_ptr<NEBMessagingCheckinService> checkin,
                                         std::string token, std::string topic,
                                         ns::Dictionary options, NEBRequestLimits limits);

    static std::string pubsubRegistrationKeyWithToken(const std::string& token,
                                                      const std::string& topic,
                                                      const ns::Dictionary& options);
    // The request body; only the topic goes in as it stands (it was validated), every other
    // value is form-encoded.
    static std::string requestBody(const std::string& token, const std::string& bundleID,
                                   const std::string& deviceID, const std::string& appVersion,
                                   const std::string& topic, bool shouldDelete);
    // The token of a reply body, or error 0.
    static ns::Result<std::string> parseReply(std::string_view body);

    void updateSubscriptionWithCompletion(Handler handler, bool shouldDelete);
    bool isSubscriptionInProgress() const;
    void cancelAnyOngoingOperation();

private:
    std::shared_ptr<NEBMessagingCheckinService> checkin_;
    std::string token_;
    std::string topic_;
    ns::Dictionary options_;
    NEBRequestSession session_;
};
