// The registration service: POST "/iid/register" answers token requests with a new token, and
// topic requests (the form's "X-msg.topic") with the topic, announcing each subscription so
// that the messaging service can greet the device on that topic.
#include <string>

#include "services/LocalServices.h"
#include "services/peers/RegistrationPeer.h"

namespace localservices {

namespace {

// The check-in device ID from "AidLogin <device>:<secret>".
std::string deviceOf(const std::string& authorization) {
    const std::string prefix = "AidLogin ";
    if (authorization.rfind(prefix, 0) != 0) return {};
    std::string credential = authorization.substr(prefix.size());
    return credential.substr(0, credential.find(':'));
}

class RegistrationService : public LocalService {
public:
    std::string name() const override { return "registration"; }

    void start(LocalServices& services) override {
        peer_ = std::make_unique<peers::RegistrationPeer>(services.https());
        auto tokens = peers::RegistrationPeer::token("");
        peer_->answer([&services, tokens, this](const peers::RegistrationRequest& request) {
            const std::string topic = request.field("X-msg.topic");
            if (topic.empty()) {
                LocalServices::log(name(), "token for device " + deviceOf(request.authorization));
                return tokens(request);
            }
            const bool remove = request.isDelete();
            LocalServices::log(name(), "device " + deviceOf(request.authorization) +
                                           (remove ? " unsubscribed from " : " subscribed to ") +
                                           topic);
            services.publish(kTopicSubscribedEvent,
                             ns::Value::dict({{"device", deviceOf(request.authorization)},
                                              {"topic", topic},
                                              {"delete", remove}}));
            return peers::HttpResponse::text(200, "token=" + topic);
        });
        url_ = services.https().baseURL();
    }

    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"NEBULA_REGISTRATION_SERVER_URL", url_}};
    }

private:
    std::unique_ptr<peers::RegistrationPeer> peer_;
    std::string url_;
};

}  // namespace

std::unique_ptr<LocalService> makeRegistrationService() {
    return std::make_unique<RegistrationService>();
}

}  // namespace localservices
