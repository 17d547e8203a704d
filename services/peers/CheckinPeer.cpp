#include "services/peers/CheckinPeer.h"

#include "platform/ns/JSONSerialization.h"

namespace peers {

CheckinPeer::CheckinPeer(HttpsServer& server) : server_(server) {
    answers_.push_back(HttpResponse::text(503, "unscripted"));
    frontUsed_ = true;
    server_.on("POST", "/checkin", [this](const HttpRequest&) {
        dispatch::Lock lock(mutex_);
        HttpResponse response = answers_.front();
        if (answers_.size() > 1) {
            answers_.pop_front();
        } else {
            frontUsed_ = true;
        }
        return response;
    });
}

void CheckinPeer::answer(HttpResponse response) {
    dispatch::Lock lock(mutex_);
    if (answers_.size() == 1 && frontUsed_) answers_.clear();
    frontUsed_ = false;
    answers_.push_back(std::move(response));
}

HttpResponse CheckinPeer::credentials(const std::string& deviceIDDigits,
                                      const std::string& secretDigits,
                                      std::optional<int64_t> timeMillis,
                                      const std::string& extraMembers) {
    std::string body = "{\"mobile_id\":" + deviceIDDigits + ",\"security_token\":" + secretDigits +
                       ",\"digest\":\"d1\",\"version_info\":\"v1\"";
    if (timeMillis) body += ",\"time_msec\":" + std::to_string(*timeMillis);
    if (!extraMembers.empty()) body += "," + extraMembers;
    body += "}";
    return HttpResponse::text(200, body, "application/json");
}

std::vector<std::string> CheckinPeer::texts() const {
    std::vector<std::string> texts;
    for (const auto& request : server_.requests()) {
        if (request.path == "/checkin") texts.push_back(request.body);
    }
    return texts;
}

std::vector<ns::Value> CheckinPeer::bodies() const {
    std::vector<ns::Value> bodies;
    for (const auto& text : texts()) {
        auto parsed = ns::JSONSerialization::read(text);
        bodies.push_back(parsed.ok() ? *parsed : ns::Value());
    }
    return bodies;
}

}  // namespace peers
