// The directory's identity service, for the example page's sign-in: instance discovery, the
// sign-in page of the tenant "example.tenant" (any user name signs in; the code it gives is
// redeemed once, with its PKCE verifier) and the token endpoint. It listens on a port of its
// own, 8443, so that the example page's authority, "https://localhost:8443/example.tenant",
// stays the same from run to run; when that port is taken it takes another and says so.
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "services/LocalServices.h"
#include "services/peers/IdentityPeer.h"

namespace localservices {

namespace {

constexpr uint16_t kPort = 8443;
constexpr const char* kTenant = "example.tenant";

class IdentityService : public LocalService {
public:
    std::string name() const override { return "identity"; }

    void start(LocalServices& services) override {
        peers::HttpsServer::Options options{&services.ca().localhost()};
        options.maxRequests = 1000000;
        options.lifetime = std::chrono::hours(24 * 365);
        options.port = kPort;
        try {
            server_ = std::make_unique<peers::HttpsServer>(options);
        } catch (const std::runtime_error&) {
            options.port = 0;
            server_ = std::make_unique<peers::HttpsServer>(options);
            LocalServices::log(name(), "port " + std::to_string(kPort) +
                                           " is taken: the authority is the one below (tools/"
                                           "run-host gives it to the example page)");
        }
        peer_ = std::make_unique<peers::IdentityPeer>(*server_);
        peer_->answerDiscovery(peers::IdentityPeer::Discovery::Valid);
        peer_->serveTokens(kTenant);
        peer_->serveSignIn(kTenant);
        authority_ = "https://localhost:" + std::to_string(server_->port()) + "/" + kTenant;
        LocalServices::log(name(), "sign-in authority " + authority_);
    }

    // The variable says where the authority is, also when the port was taken: tools/run-host
    // hands it to the example page.
    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"HYBRID_SIGNIN_AUTHORITY", authority_}};
    }

private:
    // The server goes first, so that no request reaches the peer once it is gone.
    std::unique_ptr<peers::IdentityPeer> peer_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::string authority_;
};

}  // namespace

std::unique_ptr<LocalService> makeIdentityService() {
    return std::make_unique<IdentityService>();
}

}  // namespace localservices
