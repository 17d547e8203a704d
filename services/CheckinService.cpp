// The device check-in service: POST "/checkin" answers a device ID and a secret. One pair is
// made when the program starts and handed to every device that checks in.
#include <openssl/rand.h>

#include <cstdint>
#include <string>

#include "services/LocalServices.h"
#include "services/peers/CheckinPeer.h"

namespace localservices {

namespace {

// A positive 63-bit number in decimal, as the service's identifiers are.
std::string randomDigits() {
    uint64_t value = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1) value = 4242;
    value &= 0x7fffffffffffffffULL;
    return std::to_string(value == 0 ? 1 : value);
}

class CheckinService : public LocalService {
public:
    std::string name() const override { return "checkin"; }

    void start(LocalServices& services) override {
        peer_ = std::make_unique<peers::CheckinPeer>(services.https());
        const std::string device = randomDigits();
        peer_->answer(peers::CheckinPeer::credentials(device, randomDigits()));
        url_ = services.https().baseURL();
        LocalServices::log(name(), "devices check in at " + url_ + "/checkin as " + device);
    }

    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"NEBULA_CHECKIN_SERVER_URL", url_}};
    }

private:
    std::unique_ptr<peers::CheckinPeer> peer_;
    std::string url_;
};

}  // namespace

std::unique_ptr<LocalService> makeCheckinService() {
    return std::make_unique<CheckinService>();
}

}  // namespace localservices
