// The messaging server: the device's socket connects and logs in here (any check-in device is
// accepted), pings are answered, and a device that subscribes to a topic gets a welcome data
// message on that topic over the socket, at once when it is connected, else at its next login.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "services/LocalServices.h"
#include "services/peers/messaging/MessagingServer.h"

namespace localservices {

namespace {

constexpr int8_t kDataMessageTag = 8;

class MessagingService : public LocalService {
public:
    std::string name() const override { return "messaging"; }

    void start(LocalServices& services) override {
        peers::MessagingServer::Options options;
        options.identity = &services.ca().localhost();
        options.lifetime = std::chrono::hours(24 * 365);
        options.pollInterval = std::chrono::milliseconds(50);
        options.onLogin = [this](const mcs::McsLoginRequest& login) { loggedIn(login.user()); };
        server_ = std::make_unique<peers::MessagingServer>(options);
        services.subscribe(kTopicSubscribedEvent, [this](const ns::Value& details) {
            if (details["delete"].boolValue()) return;
            welcome(details["device"].stringValue(), details["topic"].stringValue());
        });
        LocalServices::log(name(), "listening on 127.0.0.1:" + std::to_string(server_->port()));
    }

    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"NEBULA_MESSAGING_SERVER", "127.0.0.1:" + std::to_string(server_->port())}};
    }

private:
    mcs::McsDataMessageStanza welcomeMessage(const std::string& topic) REQUIRES(mutex_) {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        mcs::McsDataMessageStanza stanza;
        stanza.set_from(topic);
        stanza.set_category("local-services");
        stanza.set_persistent_id("0:" + std::to_string(now) + "%local-" + std::to_string(++sent_));
        stanza.set_sent(now / 1000);
        stanza.set_immediate_ack(true);
        auto add = [&stanza](const std::string& key, const std::string& value) {
            auto* pair = stanza.add_app_data();
            pair->set_key(key);
            pair->set_value(value);
        };
        add("message", "Welcome to " + topic.substr(topic.rfind('/') + 1) +
                           ", from the local messaging server.");
        add("topic", topic);
        return stanza;
    }

    void welcome(const std::string& device, const std::string& topic) {
        dispatch::Lock lock(mutex_);
        auto stanza = welcomeMessage(topic);
        if (!device.empty() && server_->signedInUser() == device) {
            server_->sendFrame(kDataMessageTag, stanza);
            LocalServices::log(name(), "sent a welcome on " + topic + " to device " + device);
        } else {
            pending_[device].push_back(std::move(stanza));
            LocalServices::log(name(), "a welcome on " + topic + " waits for device " + device);
        }
    }

    void loggedIn(const std::string& device) {
        LocalServices::log(name(), "device " + device + " logged in");
        dispatch::Lock lock(mutex_);
        auto found = pending_.find(device);
        if (found == pending_.end()) return;
        for (const auto& stanza : found->second) server_->sendFrame(kDataMessageTag, stanza);
        LocalServices::log(name(), "sent " + std::to_string(found->second.size()) +
                                       " waiting message(s) to device " + device);
        pending_.erase(found);
    }

    std::unique_ptr<peers::MessagingServer> server_;
    dispatch::Mutex mutex_;
    std::map<std::string, std::vector<mcs::McsDataMessageStanza>> pending_ GUARDED_BY(mutex_);
    int sent_ GUARDED_BY(mutex_) = 0;
};

}  // namespace

std::unique_ptr<LocalService> makeMessagingService() {
    return std::make_unique<MessagingService>();
}

}  // namespace localservices
