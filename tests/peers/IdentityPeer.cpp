#include "tests/peers/IdentityPeer.h"

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/PercentEncoding.h"
#include "tests/peers/WebSafeBase64.h"

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

namespace peers {

namespace {

std::string base64Url(const std::string& text) {
    return encodeWebSafeUnpadded(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace

std::string IdentityPeer::unsignedIdToken(const std::string& user) {
    const std::string header = R"({"alg":"none","typ":"JWT"})";
    const std::string payload = R"({"upn":")" + user + R"(","oid":"oid-)" + user + R"("})";
    return base64Url(header) + "." + base64Url(payload) + ".";
}

std::map<std::string, std::string> IdentityPeer::parseForm(const std::string& body) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(start, end - start);
        const size_t eq = pair.find('=');
        auto decode = [](std::string text) {
            for (char& c : text)
                if (c == '+') c = ' ';
            return ns::percentDecodeOrKeep(text);
        };
        if (!pair.empty()) {
            if (eq == std::string::npos)
                fields[decode(pair)] = "";
            else
                fields[decode(pair.substr(0, eq))] = decode(pair.substr(eq + 1));
        }
        start = end + 1;
    }
    return fields;
}

void IdentityPeer::serveTokens(const std::string& tenant) {
    server_.on("POST", "/" + tenant + "/oauth2/token",
               [this](const HttpRequest& request) { return answerToken(request); });
}

void IdentityPeer::grant(const std::string& refreshToken, Grant answer) {
    std::lock_guard<std::mutex> guard(mutex_);
    grants_[refreshToken] = std::move(answer);
}

std::vector<std::map<std::string, std::string>> IdentityPeer::tokenForms() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return forms_;
}

HttpResponse IdentityPeer::answerToken(const HttpRequest& request) {
    const std::map<std::string, std::string> form = parseForm(request.body);
    std::lock_guard<std::mutex> guard(mutex_);
    forms_.push_back(form);
    auto type = form.find("grant_type");
    auto token = form.find("refresh_token");
    if (type == form.end() || type->second != "refresh_token" || token == form.end() ||
        !grants_.count(token->second)) {
        return json(
            400,
            R"({"error":"invalid_grant","error_description":"The refresh token has expired."})");
    }
    const Grant& g = grants_.at(token->second);
    ns::Dictionary answer = {
        {"access_token", g.accessToken},
        {"token_type", "Bearer"},
        {"expires_in", std::to_string(g.expiresIn)},
        {"refresh_token", g.refreshToken},
        {"resource", g.resource},
        {"id_token", unsignedIdToken(g.user)},
    };
    if (g.family) answer["foci"] = "1";
    return json(200, *ns::JSONSerialization::write(ns::Value(std::move(answer))));
}

}  // namespace peers
