#include "sdk/instance_id/NEBInstanceIDCheckinService.h"

#include <algorithm>
#include <cstring>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/URL.h"
#include "platform/sec/Random.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Device.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr double kCheckinTimeout = 60.0;

bool isIntegerText(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Collects the digits of the top-level numbers "mobile_id" and "security_token" exactly as
// written, which a reader that turns numbers into 64-bit or floating values cannot keep.
struct RawCredentialHandler
    : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RawCredentialHandler> {
    int depth = 0;
    std::string key;
    std::optional<std::string> deviceID;
    std::optional<std::string> secret;

    bool Default() { return true; }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        if (depth == 1) {
            if (key == "mobile_id") deviceID.emplace(text, length);
            if (key == "security_token") secret.emplace(text, length);
        }
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (depth == 1) key.assign(text, length);
        return true;
    }
    bool StartObject() {
        ++depth;
        return true;
    }
    bool EndObject(rapidjson::SizeType) {
        --depth;
        return true;
    }
    bool StartArray() {
        ++depth;
        return true;
    }
    bool EndArray(rapidjson::SizeType) {
        --depth;
        return true;
    }
};

std::string stringField(const ns::Value& root, std::string_view key) {
    const auto* text = root[key].string();
    return text ? *text : std::string();
}

// The held credential as the signed 64-bit number the service expects, digit for digit.
void writeCredential(rapidjson::Writer<rapidjson::StringBuffer>& writer, const std::string& text) {
    if (isIntegerText(text)) {
        writer.RawValue(text.c_str(), text.size(), rapidjson::kNumberType);
    } else {
        writer.Int64(0);
    }
}

}  // namespace

NEBInstanceIDCheckinService::NEBInstanceIDCheckinService(
    std::weak_ptr<NEBInstanceIDCheckinCache> cache)
    : cache_(std::move(cache)) {
    if (auto held = cache_.lock()) {
        if (auto cached = held->cachedCheckinPreferences()) {
            preferences_ = std::make_shared<const NEBInstanceIDCheckinPreferences>(*cached);
        }
    }
}

NEBInstanceIDCheckinService::~NEBInstanceIDCheckinService() {
    stopFetching();
}

NEBInstanceIDCheckinService::Preferences NEBInstanceIDCheckinService::checkinPreferences() const {
    std::lock_guard lock(mutex_);
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
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    auto key = [&](const char* name) { writer.Key(name); };
    auto text = [&](const std::string& value) {
        writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    };
    uint32_t loggingID = 0;
    ns::Data random = sec::randomBytes(sizeof loggingID);
    std::memcpy(&loggingID, random.bytes(), std::min(random.length(), sizeof loggingID));
    writer.StartObject();
    key("checkin");
    writer.StartObject();
    key("iosbuild");
    writer.StartObject();
    key("model");
    text(sys::DeviceFacts::current().machine());
    key("os_version");
    text("IOS_" + ui::Device::current().systemVersion());
    writer.EndObject();
    key("type");
    writer.Int(2);
    key("user_number");
    writer.Int(0);
    key("last_checkin_msec");
    writer.Int64(held ? held->lastCheckinTimestampMillis() : 0);
    writer.EndObject();
    key("fragment");
    writer.Int(0);
    key("logging_id");
    writer.Uint(loggingID);
    key("locale");
    text(NEBInstanceIDMessagingSDKCurrentLocale());
    key("version");
    writer.Int(2);
    key("digest");
    text(held ? held->digest() : std::string());
    key("timezone");
    text(NEBInstanceIDLocalTimeZoneName());
    key("user_serial_number");
    writer.Int(0);
    key("id");
    writeCredential(writer, held ? held->deviceID() : std::string());
    key("security_token");
    writeCredential(writer, held ? held->secretToken() : std::string());
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

ns::Result<NEBInstanceIDCheckinService::Response> NEBInstanceIDCheckinService::parseCheckinResponse(
    std::string_view body) {
    auto parsed = ns::JSONSerialization::read(body);
    if (!parsed.ok()) return parsed.error();
    const ns::Value& root = *parsed;
    if (!root.isDictionary()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingDeviceID);
    }
    RawCredentialHandler raw;
    rapidjson::Reader reader;
    rapidjson::MemoryStream stream(body.data(), body.size());
    reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, raw);

    Response response;
    if (root["mobile_id"].isNumber() && raw.deviceID && isIntegerText(*raw.deviceID)) {
        response.deviceID = *raw.deviceID;
    }
    if (response.deviceID.empty()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingDeviceID);
    }
    if (root["security_token"].isNumber() && raw.secret && isIntegerText(*raw.secret)) {
        response.secretToken = *raw.secret;
    }
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
    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForResource(kCheckinTimeout);
    configuration.setMaximumResponseSize(kNEBInstanceIDCheckinMaximumResponseSize);
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
    {
        std::lock_guard lock(mutex_);
        if (session_) session_->invalidateAndCancel();
        session_ = session;
    }
    auto url = ns::URL::parse(NEBInstanceIDCheckinURL());
    if (!url) {
        completion(nullptr, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
        return;
    }
    net::URLRequest request(*url);
    request.setHTTPMethod("POST");
    request.setValue("application/json", "content-type");
    request.setHTTPBody(ns::Data::fromString(checkinParameters()));
    auto task = session->dataTask(
        std::move(request),
        [weak = weak_from_this(), completion = std::move(completion)](
            std::optional<ns::Data> body, std::shared_ptr<const net::URLResponse>,
            std::optional<ns::Error> error) {
            auto self = weak.lock();
            if (!self) {
                completion(nullptr, error ? error
                                          : std::optional<ns::Error>(NEBInstanceIDErrorWithCode(
                                                kNEBInstanceIDErrorCodeUnknown)));
                return;
            }
            self->handleResponse(std::move(body), std::move(error), completion);
        });
    task->resume();
}

void NEBInstanceIDCheckinService::handleResponse(std::optional<ns::Data> body,
                                                 std::optional<ns::Error> error,
                                                 const Completion& completion) {
    if (error) {
        completion(nullptr, error);
        return;
    }
    auto parsed = parseCheckinResponse(body ? body->chars() : std::string_view());
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
        std::lock_guard lock(mutex_);
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
        std::lock_guard lock(mutex_);
        auto cleared = std::make_shared<NEBInstanceIDCheckinPreferences>(*fresh);
        cleared->reset();
        preferences_ = cleared;
    }
    completion(nullptr, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest));
}

void NEBInstanceIDCheckinService::stopFetching() {
    std::shared_ptr<net::URLSession> session;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
    }
    if (session) session->invalidateAndCancel();
}
