#include "sdk/messaging/NEBMessagingPubsubRegistrationClient.h"

#include "platform/net/URLRequest.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/URL.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"
#include "sdk/messaging/NEBMessagingCheckinService.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "sdk/messaging/NSDictionary+NEBMessaging.h"

namespace {

std::string formEncoded(const std::string& value) {
    return ns::percentEncode(value, ns::formUnreservedCharacterSet());
}

ns::Error replyError() {
    return ns::Error(kNEBMessagingDomain, NEBMessagingPubsubRegistrationClient::kErrorInvalidReply);
}

}  // namespace

NEBMessagingPubsubRegistrationClient::NEBMessagingPubsubRegistrationClient(
    std::shared_ptr<NEBMessagingCheckinService> checkin, std::string token, std::string topic,
    ns::Dictionary options, NEBRequestLimits limits)
    : checkin_(std::move(checkin)),
      token_(std::move(token)),
      topic_(std::move(topic)),
      options_(std::move(options)),
      session_(std::move(limits)) {}

std::string NEBMessagingPubsubRegistrationClient::pubsubRegistrationKeyWithToken(
    const std::string& token, const std::string& topic, const ns::Dictionary& options) {
    return token + "|" + topic + "|" + msg_string(options);
}

std::string NEBMessagingPubsubRegistrationClient::requestBody(
    const std::string& token, const std::string& bundleID, const std::string& deviceID,
    const std::string& appVersion, const std::string& topic, bool shouldDelete) {
    std::string body = "sender=" + formEncoded(token) + "&app=" + formEncoded(bundleID) +
                       "&device=" + formEncoded(deviceID) + "&app_ver=" + formEncoded(appVersion) +
                       "&X-msg.topic=" + topic + "&X-scope=" + topic;
    if (shouldDelete) body += "&delete=true";
    return body;
}

ns::Result<std::string> NEBMessagingPubsubRegistrationClient::parseReply(std::string_view text) {
    auto first = text.find('=');
    if (first == std::string::npos || text.substr(0, first) != "token") return replyError();
    auto second = text.find('=', first + 1);
    return std::string(text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
}

void NEBMessagingPubsubRegistrationClient::updateSubscriptionWithCompletion(Handler handler,
                                                                            bool shouldDelete) {
    // The one registration endpoint that instance identity's token requests use as well.
    auto url = ns::URL::parse(NEBInstanceIDRegistrationURL());
    if (!url) return handler(std::nullopt, replyError());
    net::URLRequest request(*url);
    request.setHTTPMethod("POST");
    request.setValue("AidLogin " + checkin_->deviceAuthID() + ":" + checkin_->secretToken(),
                     "Authorization");
    request.setValue(NEBMessagingBundleIdentifier(), "app");
    request.setValue(checkin_->versionInfo(), "info");
    std::string body = requestBody(token_, NEBMessagingBundleIdentifier(), checkin_->deviceAuthID(),
                                   NEBMessagingCurrentAppVersion(), topic_, shouldDelete);
    NEBMessagingSharedLogger().logFuncInfo(__func__, "Pubsub registration request: %@", body);
    request.setHTTPBody(ns::Data::fromString(body));
    session_.send(std::move(request), [handler = std::move(handler)](ns::Result<NEBReply> reply) {
        auto result = reply.ok() ? parseReply(reply->body.chars()) : reply.error();
        if (!result.ok()) return handler(std::nullopt, result.error());
        handler(std::move(*result), std::nullopt);
    });
}

bool NEBMessagingPubsubRegistrationClient::isSubscriptionInProgress() const {
    return session_.inProgress();
}

void NEBMessagingPubsubRegistrationClient::cancelAnyOngoingOperation() {
    session_.cancel();
}
