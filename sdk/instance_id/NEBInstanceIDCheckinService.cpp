#include "sdk/instance_id/NEBInstanceIDCheckinService.h"

#include <algorithm>
#include <cstring>

#include "platform/net/URLRequest.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/URL.h"
#include "platform/sec/Random.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Device.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

bool isIntegerText(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The decimal digits of an integer the reader kept exactly (64-bit signed or unsigned); a
// number it could only approximate is no credential.
std::optional<std::string> exactIntegerText(const ns::Value& value) {
    if (auto u = value.uint64()) return std::to_string(*u);
    if (auto i = value.int64()) return std::to_string(*i);
    return std::nullopt;
}

std::string stringField(const ns::Value& root, std::string_view key) {
    const auto* text = root[key].string();
    return text ? *text : std::string();
}

// The held credential as the number the service expects, digit for digit.
std::string credentialNumber(const std::string& text) {
    return isIntegerText(text) ? text : std::string("0");
}

dispatch::Mutex& testBlockMutex() {
    static auto* mutex = new dispatch::Mutex;
    return *mutex;
}

NEBInstanceIDCheckinService::TestBlock& testBlock() {
    static auto* block = new NEBInstanceIDCheckinService::TestBlock;
    return *block;
}

NEBInstanceIDCheckinService::TestBlock currentTestBlock() {
    dispatch::Lock lock(testBlockMutex());
    return testBlock();
}

}  // namespace

NEBInstanceIDCheckinService::NEBInstanceIDCheckinService(
    std::weak_ptr<NEBInstanceIDCheckinCache> cache, const NEBRequestLimits& limits)
    : cache_(std::move(cache)), session_(limits) {
    if (auto held = cache_.lock()) {
        if (auto cached = held->cachedCheckinPreferences()) {
            preferences_ = std::make_shared<const NEBInstanceIDCheckinPreferences>(*cached);
        }
    }
}

NEBInstanceIDCheckinService::~NEBInstanceIDCheckinService() {
    setCheckinTestBlock({});
    stopFetching();
}

void NEBInstanceIDCheckinService::setCheckinTestBlock(TestBlock block) {
    dispatch::Lock lock(testBlockMutex());
    testBlock() = std::move(block);
}

NEBInstanceIDCheckinService::Preferences NEBInstanceIDCheckinService::checkinPreferences() const {
    dispatch::Lock lock(mutex_);
    return preferences_;
}

bool NEBInstanceIDCheckinService::hasCachedDeviceID(std::string_view deviceID,
                                                    std::string_view secret) const {
    auto held = checkinPreferences();
    return held && !deviceID.empty() && !secret.empty() && held->deviceID() == deviceID &&
           held->secretToken() == secret;
}

std::string NEBInstanceIDCheckinService::checkinParameters() const {
    auto held = checkinPreferences();
    uint32_t loggingID = 0;
    ns::Data random = sec::randomBytes(sizeof loggingID);
    std::memcpy(&loggingID, random.bytes(), std::min(random.length(), sizeof loggingID));
    // Members in ascending order, as the writer requires.
    ns::JSONWriter writer;
    writer.startObject();
    writer.key("checkin");
    writer.startObject();
    writer.key("iosbuild");
    writer.startObject();
    writer.key("model");
    writer.string(sys::DeviceFacts::current().machine());
    writer.key("os_version");
    writer.string("IOS_" + ui::Device::current().systemVersion());
    writer.endObject();
    writer.key("last_checkin_msec");
    writer.int64(held ? held->lastCheckinTimestampMillis() : 0);
    writer.key("type");
    writer.int64(2);
    writer.key("user_number");
    writer.int64(0);
    writer.endObject();
    writer.key("digest");
    writer.string(held ? held->digest() : std::string());
    writer.key("fragment");
    writer.int64(0);
    writer.key("id");
    writer.json(credentialNumber(held ? held->deviceID() : std::string()));
    writer.key("locale");
    writer.string(NEBInstanceIDMessagingSDKCurrentLocale());
    writer.key("logging_id");
    writer.int64(loggingID);
    writer.key("security_token");
    writer.json(credentialNumber(held ? held->secretToken() : std::string()));
    writer.key("timezone");
    writer.string(NEBInstanceIDLocalTimeZoneName());
    writer.key("user_serial_number");
    writer.int64(0);
    writer.key("version");
    writer.int64(2);
    writer.endObject();
    auto text = writer.take();
    return text.ok() ? *text : std::string("{}");
}

ns::Result<NEBInstanceIDCheckinService::Response> NEBInstanceIDCheckinService::parseCheckinResponse(
    std::string_view body) {
    auto parsed = ns::JSONSerialization::read(body);
    if (!parsed.ok()) return parsed.error();
    const ns::Value& root = *parsed;
    if (!root.isDictionary()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingDeviceID);
    }
    Response response;
    response.deviceID = exactIntegerText(root["mobile_id"]).value_or("");
    if (response.deviceID.empty()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingDeviceID);
    }
    response.secretToken = exactIntegerText(root["security_token"]).value_or("");
    if (auto millis = root["time_msec"].int64()) response.timeMillis = *millis;
    response.digest = stringField(root, "digest");
    response.versionInfo = stringField(root, "version_info");
    response.deviceDataVersion = stringField(root, "device_data_version_info");
    if (const auto* settings = root["setting"].array()) {
        for (const auto& entry : *settings) {
            const auto* name = entry["name"].string();
            const auto* value = entry.find("value");
            if (!name || !value) continue;
            response.settings[*name] = *value;
        }
    }
    return response;
}

void NEBInstanceIDCheckinService::checkinWithCompletion(Completion completion) {
    // Each check-in runs on a new session; one still running gives way.
    session_.cancel();
    auto url = ns::URL::parse(NEBInstanceIDCheckinURL());
    if (!url) {
        completion(nullptr, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
        return;
    }
    net::URLRequest request(*url);
    request.setHTTPMethod("POST");
    request.setValue("application/json", "content-type");
    request.setHTTPBody(ns::Data::fromString(checkinParameters()));
    NEBRequestSession::Completion answer =
        [weak = weak_from_this(), completion = std::move(completion)](ns::Result<NEBReply> reply) {
            auto self = weak.lock();
            if (self) return self->handleResponse(reply, completion);
            completion(nullptr, reply.ok()
                                    ? NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown)
                                    : reply.error());
        };
    if (auto block = currentTestBlock())
        return block(request, NEBRequestSession::dataCompletion(std::move(answer)));
    session_.send(std::move(request), std::move(answer));
}

void NEBInstanceIDCheckinService::handleResponse(const ns::Result<NEBReply>& reply,
                                                 const Completion& completion) {
    if (!reply.ok()) {
        completion(nullptr, reply.error());
        return;
    }
    auto parsed = parseCheckinResponse(reply->body.chars());
    if (!parsed.ok()) {
        completion(nullptr, parsed.error());
        return;
    }
    const Response& response = *parsed;
    int64_t deviceMillis = NEBInstanceIDCurrentTimestampInMilliseconds();
    // A server clock ahead of ours must not make the check-in look valid for longer; one that
    // sent no time leaves ours.
    int64_t lastCheckin = std::min(response.timeMillis.value_or(deviceMillis), deviceMillis);
    ns::Dictionary contents{
        {kNEBInstanceIDDigestKey, response.digest},
        {kNEBInstanceIDVersionInfoKey, response.versionInfo},
        {kNEBInstanceIDLastCheckinTimestampKey, lastCheckin},
        {kNEBInstanceIDServiceSettingsDataKey, response.settings},
        {kNEBInstanceIDDeviceDataVersionKey, response.deviceDataVersion},
    };
    bool repeated = hasCachedDeviceID(response.deviceID, response.secretToken);
    auto fresh =
        std::make_shared<NEBInstanceIDCheckinPreferences>(response.deviceID, response.secretToken);
    fresh->updateWithCheckinPlistContents(contents);
    fresh->setHasPreCachedAuthCredentials(repeated);
    Preferences published = fresh;
    {
        dispatch::Lock lock(mutex_);
        preferences_ = published;
    }
    auto cache = cache_.lock();
    ns::Status saved =
        cache ? cache->saveCheckinPreferences(*fresh)
              : ns::Status(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
    if (saved.ok()) {
        completion(published, std::nullopt);
        return;
    }
    if (repeated) {
        // The keychain already holds these very credentials: the check-in stands in memory and
        // the caller may go on; only the bookkeeping was not written.
        NEBInstanceIDLoggerError("Failed to save checkin preferences %@", saved.error());
        completion(published, std::nullopt);
        return;
    }
    NEBInstanceIDLoggerError("STOP!! Will reset deviceID from memory.");
    {
        dispatch::Lock lock(mutex_);
        auto cleared = std::make_shared<NEBInstanceIDCheckinPreferences>(*fresh);
        cleared->reset();
        preferences_ = cleared;
    }
    completion(nullptr, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
}

void NEBInstanceIDCheckinService::stopFetching() {
    session_.cancel();
}
