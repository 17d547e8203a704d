#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"

#include <algorithm>

#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLRequest.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/URL.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDKeyPair.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDTokenStore.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr const char* kPhoneRegistrationError = "PHONE_REGISTRATION_ERROR";

std::atomic<uint64_t> requestCounter{0};

void onMain(std::function<void()> fn) {
    dispatch::Queue::main().async(std::move(fn));
}

// Answers a delete on the main queue, whether it was sent or refused before it went out.
void deliverDelete(const NEBInstanceIDRegistrationClient::DeleteHandler& handler,
                   const ns::Result<NEBReply>& reply) {
    std::optional<ns::Error> outcome;
    if (!reply.ok())
        outcome = reply.error();
    else if (!NEBInstanceIDRegistrationClient::isDeleteSuccess(reply->body.chars()))
        outcome = NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown);
    onMain([handler, outcome] {
        if (handler) handler(outcome);
    });
}

}  // namespace

NEBInstanceIDRegistrationClient::NEBInstanceIDRegistrationClient(
    std::shared_ptr<NEBInstanceIDAuthService> authService, std::string authorizedEntity,
    std::string scope, std::shared_ptr<NEBInstanceIDKeyPair> keyPair)
    : authService_(std::move(authService)),
      authorizedEntity_(std::move(authorizedEntity)),
      scope_(std::move(scope)),
      keyPair_(std::move(keyPair)),
      session_(authService_->services()->requests().registration) {}

NEBInstanceIDRegistrationClient::~NEBInstanceIDRegistrationClient() = default;

std::string NEBInstanceIDRegistrationClient::registrationClientKeyWithAuthorizedEntity(
    std::string_view entity, std::string_view scope) {
    return NEBInstanceIDTokenStore::cacheKeyForAuthorizedEntity(entity, scope);
}

uint64_t NEBInstanceIDRegistrationClient::nextRequestID() {
    return ++requestCounter;
}

uint64_t NEBInstanceIDRegistrationClient::requestID() {
    return requestCounter.load();
}

void NEBInstanceIDRegistrationClient::setOptionsForFetchingNewToken(ns::Dictionary options) {
    dispatch::Lock lock(mutex_);
    options_ = std::move(options);
}

bool NEBInstanceIDRegistrationClient::inProgress() const {
    return retryPending_ || session_.inProgress();
}

void NEBInstanceIDRegistrationClient::stopFetching() {
    session_.cancel();
}

std::string NEBInstanceIDRegistrationClient::formValue(std::string_view value) {
    // Only what would end a field or a line, and the escape character itself, is escaped.
    static const ns::CharacterSet kept =
        ns::CharacterSet::characterSetWithCharactersInString("&=%\r\n").invertedSet();
    return ns::percentEncode(value, kept);
}

net::URLRequest NEBInstanceIDRegistrationClient::requestWithAuthHeader(
    const std::string& authHeader) {
    net::URLRequest request(ns::URL::parse(NEBInstanceIDRegistrationURL())
                                .value_or(ns::URL::parse("https://invalid.invalid/").value()));
    request.setValue(authHeader, "Authorization");
    request.setValue(NEBInstanceIDAppIdentifier(), "app");
    request.setHTTPMethod("POST");
    return request;
}

std::string NEBInstanceIDRegistrationClient::HTTPAuthHeaderForAuthorizedEntity() const {
    auto token = authService_->cachedIIDAuthTokenForAuthorizedEntity(authorizedEntity_);
    if (token && !token->empty()) return "AidLogin " + *token;
    return "AidLogin " + authService_->checkinAuthToken();
}

std::string NEBInstanceIDRegistrationClient::requestContentSuffixFromOptions(
    const ns::Dictionary& options) {
    std::string suffix;
    for (const auto& [key, value] : options) {
        if (key != "apns_token" && key != "nmp_app_id") continue;
        std::string text;
        if (const auto* string = value.string()) {
            text = *string;
        } else if (auto flag = value.boolean()) {
            text = *flag ? "1" : "0";
        } else if (value.isNumber()) {
            text = value.stringValue();
        } else {
            continue;
        }
        suffix += "&" + key + "=" + formValue(text);
    }
    return suffix;
}

std::string NEBInstanceIDRegistrationClient::deleteRequestContentWithDeviceID(
    std::string_view deviceID, std::string_view scope, uint64_t requestID) {
    return "device=" + formValue(deviceID) + "&app=" + formValue(NEBInstanceIDAppIdentifier()) +
           "&app_ver=" + formValue(NEBInstanceIDCurrentAppVersion()) +
           "&X-scope=" + formValue(scope) + "&X-kid=" + std::to_string(requestID) + "&delete=true";
}

std::string NEBInstanceIDRegistrationClient::publicKeyContent(const NEBInstanceIDKeyPair& keyPair) {
    std::string pub2 = NEBInstanceIDBase64With64CharacterLines(keyPair.publicKeyData());
    std::string toSign = NEBInstanceIDStringByJoiningLines({NEBInstanceIDAppIdentifier(), pub2});
    std::optional<std::string> sig;
    if (keyPair.privateKey()) sig = NEBInstanceIDSignParams(*keyPair.privateKey(), toSign);
    std::string appid = NEBInstanceIDKeyPair::appIdentityWithKeyPair(keyPair).value_or("");
    // The service reads pub2 raw, line breaks included.
    return "&appid=" + appid + "&pub2=" + pub2 + "&sig=" + sig.value_or("");
}

void NEBInstanceIDRegistrationClient::fetchTokenWithHandler(TokenHandler handler) {
    auto preferences = authService_->checkinPreferences();
    std::string deviceID = preferences ? preferences->deviceID() : std::string();
    std::string secret = preferences ? preferences->secretToken() : std::string();
    if (deviceID.empty() || secret.empty()) {
        onMain([handler] {
            handler(std::nullopt,
                    NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
        });
        return;
    }
    net::URLRequest request = requestWithAuthHeader(HTTPAuthHeaderForAuthorizedEntity());
    request.setValue(preferences->versionInfo(), "info");
    uint64_t requestID = nextRequestID();
    std::string body =
        "sender=" + formValue(authorizedEntity_) +
        "&app=" + formValue(NEBInstanceIDAppIdentifier()) + "&device=" + formValue(deviceID) +
        "&app_ver=" + formValue(NEBInstanceIDCurrentAppVersion()) +
        "&X-subtype=" + formValue(authorizedEntity_) + "&X-scope=" + formValue(scope_) +
        "&plat=2&X-kid=" + std::to_string(requestID);
    if (auto version = NEBInstanceIDMessagingSDKVersion(); version && !version->empty()) {
        body += "&X-msg_ver=" + formValue(*version);
    }
    body += publicKeyContent(*keyPair_);
    ns::Dictionary options;
    {
        dispatch::Lock lock(mutex_);
        options = options_;
    }
    body += requestContentSuffixFromOptions(options);
    request.setHTTPBody(ns::Data::fromString(body));

    std::weak_ptr<NEBInstanceIDRegistrationClient> weak = weak_from_this();
    session_.send(std::move(request), [weak, requestID, handler](ns::Result<NEBReply> reply) {
        auto self = weak.lock();
        if (self) return self->handleTokenReply(reply, requestID, handler);
        ns::Error error =
            reply.ok() ? NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown) : reply.error();
        onMain([handler, error] { handler(std::nullopt, error); });
    });
}

std::map<std::string, std::string> NEBInstanceIDRegistrationClient::parseFetchTokenResponse(
    std::string_view text) {
    std::map<std::string, std::string> fields;
    for (auto line : ns::componentsSeparatedByCharacter(text, '\n')) {
        auto pieces = ns::componentsSeparatedByCharacter(line, '=');
        if (pieces.size() < 2) {
            NEBInstanceIDLoggerError("Unexpected result %@", NEBInstanceIDLogHash(line));
            continue;
        }
        fields[std::string(pieces[0])] = std::string(pieces[1]);
    }
    return fields;
}

NEBInstanceIDRegistrationClient::ParsedToken NEBInstanceIDRegistrationClient::parseToken(
    std::string_view token, uint64_t requestID) {
    ParsedToken parsed;
    if (!token.empty() && token.front() == '|') {
        auto pieces = ns::componentsSeparatedByCharacter(token, '|');
        if (pieces.size() < 2 || pieces[1] != "ID") {
            NEBInstanceIDLoggerError("Unexpected token structure in response %@",
                                     NEBInstanceIDLogHash(token));
        }
        if (pieces.size() >= 5) {
            if (pieces[3] == "SYNC") parsed.command = TokenCommand::Sync;
            if (pieces[3] == "RST") parsed.command = TokenCommand::Reset;
            std::string_view last = pieces.back();
            if (!last.empty() && last.front() == ':') last.remove_prefix(1);
            parsed.token = std::string(last);
        }
        return parsed;
    }
    std::string prefix = std::to_string(requestID) + ":";
    if (token.substr(0, prefix.size()) == prefix)
        parsed.token = std::string(token.substr(prefix.size()));
    return parsed;
}

bool NEBInstanceIDRegistrationClient::isDeleteSuccess(std::string_view text) {
    return text.substr(0, 8) == "deleted=";
}

void NEBInstanceIDRegistrationClient::handleTokenReply(const ns::Result<NEBReply>& reply,
                                                       uint64_t requestID,
                                                       const TokenHandler& handler) {
    auto fail = [handler](ns::Error failure) {
        onMain([handler, failure] { handler(std::nullopt, failure); });
    };
    if (!reply.ok()) return fail(reply.error());
    std::string_view text = reply->body.chars();
    if (text.empty()) return fail(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
    auto fields = parseFetchTokenResponse(text);
    if (auto found = fields.find("token"); found != fields.end() && !found->second.empty()) {
        std::optional<std::string> authToken;
        if (const auto* http = reply->response ? reply->response->http() : nullptr) {
            authToken = http->valueForHTTPHeaderField("X-iid-auth");
        }
        auto parsed = parseToken(found->second, requestID);
        if (parsed.command == TokenCommand::Sync)
            onMain([] { NEBInstanceID::notifyTokenRefresh(); });
        if (parsed.command == TokenCommand::Reset)
            onMain([] { NEBInstanceID::notifyIdentityLost(); });
        if (!parsed.token || parsed.token->empty()) {
            // An answer without a usable token is a failure: nothing may be cached for it.
            return fail(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
        }
        if (authToken && !authToken->empty()) {
            authService_->saveIIDAuthToken(*authToken, authorizedEntity_);
        }
        onMain([handler, token = *parsed.token] { handler(token, std::nullopt); });
        return;
    }
    if (auto found = fields.find("Error"); found != fields.end() && !found->second.empty()) {
        auto pieces = ns::componentsSeparatedByCharacter(found->second, ':');
        bool retryable = std::find(pieces.begin(), pieces.end(),
                                   std::string_view(kPhoneRegistrationError)) != pieces.end();
        const auto wait =
            authService_->services()->backoff().registration.delay(retryCount_.load());
        if (retryable && wait) {
            retryPending_ = true;
            std::weak_ptr<NEBInstanceIDRegistrationClient> weak = weak_from_this();
            dispatch::Queue::main().asyncAfter(dispatch::seconds(*wait), [weak, handler] {
                auto self = weak.lock();
                if (!self) return;
                ++self->retryCount_;
                self->retryPending_ = false;
                self->fetchTokenWithHandler(handler);
            });
            return;
        }
    }
    fail(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
}

void NEBInstanceIDRegistrationClient::deleteTokenWithHandler(DeleteHandler handler) {
    auto preferences = authService_->checkinPreferences();
    std::string deviceID = preferences ? preferences->deviceID() : std::string();
    std::string secret = preferences ? preferences->secretToken() : std::string();
    if (deviceID.empty() || secret.empty()) {
        return deliverDelete(handler,
                             NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
    }
    net::URLRequest request = requestWithAuthHeader(HTTPAuthHeaderForAuthorizedEntity());
    std::string body = deleteRequestContentWithDeviceID(deviceID, scope_, nextRequestID()) +
                       publicKeyContent(*keyPair_);
    request.setHTTPBody(ns::Data::fromString(body));
    session_.send(std::move(request),
                  [handler](ns::Result<NEBReply> reply) { deliverDelete(handler, reply); });
}

void NEBInstanceIDRegistrationClient::deleteMSGTokenOnAppResetWithDeviceID(
    const std::string& deviceID, const std::string& secretToken, const NEBRequestLimits& limits,
    DeleteHandler handler) {
    if (deviceID.empty() || secretToken.empty()) {
        return deliverDelete(handler,
                             NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
    }
    net::URLRequest request = requestWithAuthHeader("AidLogin " + deviceID + ":" + secretToken);
    request.setHTTPBody(ns::Data::fromString(
        deleteRequestContentWithDeviceID(deviceID, kNEBInstanceIDScopeNCM, nextRequestID())));
    NEBRequestSession::sendOnce(limits, std::move(request), [handler](ns::Result<NEBReply> reply) {
        deliverDelete(handler, reply);
    });
}
