#include "tests/peers/IdentityPeer.h"

namespace peers {

namespace {

constexpr const char* kRedirectedPath = "/redirected/discovery/instance";
constexpr const char* kValidBody =
    R"({"tenant_discovery_endpoint":"https://login.directory.example/t/.well-known/openid-configuration"})";

HttpResponse json(int status, std::string body) {
    return HttpResponse::text(status, std::move(body), "application/json");
}

}  // namespace

IdentityPeer::IdentityPeer(HttpsServer& server) : server_(server) {
    server_.on("GET", kRedirectedPath, json(200, kValidBody));
}

void IdentityPeer::answerDiscovery(Discovery answer) {
    HttpResponse response;
    switch (answer) {
        case Discovery::Valid:
            response = json(200, kValidBody);
            break;
        case Discovery::BadRequestWithEndpoint:
            response = json(400, kValidBody);
            break;
        case Discovery::UnauthorizedWithEndpoint:
            response = json(401, kValidBody);
            break;
        case Discovery::InvalidInstance:
            response = json(
                400,
                R"({"error":"invalid_instance","error_description":"Unknown or invalid instance."})");
            break;
        case Discovery::ErrorWithoutDescription:
            response = json(400, R"({"error":"invalid_instance"})");
            break;
        case Discovery::ServerError:
            response = HttpResponse::text(500, "the instance service is down");
            break;
        case Discovery::Array:
            response = json(200, R"(["tenant_discovery_endpoint"])");
            break;
        case Discovery::Empty:
            response = json(200, "");
            break;
        case Discovery::Malformed:
            response = json(200, R"({"tenant_discovery_endpoint": )");
            break;
        case Discovery::RedirectToHttps:
            response = HttpResponse::redirect(302, server_.baseURL() + kRedirectedPath);
            break;
        case Discovery::RedirectToHttp:
            response = HttpResponse::redirect(302, "http://127.0.0.1:9/common/discovery/instance");
            break;
        case Discovery::Closed:
            response = HttpResponse::closeConnection();
            break;
    }
    server_.on("GET", kDiscoveryPath, std::move(response));
}

std::vector<HttpRequest> IdentityPeer::discoveryRequests() const {
    std::vector<HttpRequest> out;
    for (HttpRequest& request : server_.requests())
        if (request.path == kDiscoveryPath) out.push_back(std::move(request));
    return out;
}

}  // namespace peers
