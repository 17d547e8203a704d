#include "services/peers/IdentityPeer.h"

#include <openssl/sha.h>

#include "platform/ns/Data.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/PercentEncoding.h"

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
    return ns::Data::fromString(text).base64URLEncodedString();
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
    dispatch::Lock guard(mutex_);
    grants_[refreshToken] = std::move(answer);
}

std::vector<std::map<std::string, std::string>> IdentityPeer::tokenForms() const {
    dispatch::Lock guard(mutex_);
    return forms_;
}

HttpResponse IdentityPeer::tokensFor(const Grant& g) {
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

HttpResponse IdentityPeer::answerToken(const HttpRequest& request) {
    const std::map<std::string, std::string> form = parseForm(request.body);
    dispatch::Lock guard(mutex_);
    forms_.push_back(form);
    auto type = form.find("grant_type");
    if (type != form.end() && type->second == "authorization_code") return redeemCode(form);
    auto token = form.find("refresh_token");
    if (type == form.end() || type->second != "refresh_token" || token == form.end() ||
        !grants_.count(token->second)) {
        return json(
            400,
            R"({"error":"invalid_grant","error_description":"The refresh token has expired."})");
    }
    return tokensFor(grants_.at(token->second));
}

}  // namespace peers

namespace peers {

namespace {

std::string field(const std::map<std::string, std::string>& form, const std::string& name) {
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string formEncode(const std::string& text) {
    return ns::percentEncode(text, ns::formUnreservedCharacterSet());
}

}  // namespace

std::string IdentityPeer::s256(const std::string& verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return ns::Data(digest, sizeof digest).base64URLEncodedString();
}

HttpResponse IdentityPeer::answerAuthorize(const HttpRequest& request, const std::string& login) {
    {
        dispatch::Lock guard(mutex_);
        if (authorizeRedirect_) return HttpResponse::redirect(302, *authorizeRedirect_);
    }
    // The user the request names is filled in, as a service's sign-in page does with its hint.
    const std::string hint = field(parseForm(request.query), "login_hint");
    const std::string page =
        "<!doctype html><html><head><meta charset=\"utf-8\"><title>Sign in</title></head>"
        "<body><h1>Sign in</h1><form id=\"signin\" method=\"post\" action=\"" +
        login + "\"><p><label>User <input id=\"username\" name=\"username\" value=\"" +
        htmlEscape(hint) +
        "\"></label></p>"
        "<p><label>Password <input id=\"password\" type=\"password\" name=\"password\">"
        "</label></p><input type=\"hidden\" name=\"request\" value=\"" +
        htmlEscape(request.query) +
        "\"><p><button id=\"submit\" type=\"submit\">Sign in</button></p></form>"
        "</body></html>";
    return HttpResponse::text(200, page, "text/html; charset=utf-8");
}

void IdentityPeer::serveSignIn(const std::string& tenant) {
    const std::string login = "/" + tenant + "/oauth2/login";
    server_.on(
        "GET", "/" + tenant + "/oauth2/authorize",
        [this, login](const HttpRequest& request) { return answerAuthorize(request, login); });
    server_.on("POST", login, [this](const HttpRequest& request) {
        const auto form = parseForm(request.body);
        return HttpResponse::redirect(302, signIn(field(form, "request"), field(form, "username")));
    });
}

std::string IdentityPeer::signIn(const std::string& authorizeQuery, const std::string& user) {
    const auto query = parseForm(authorizeQuery);
    const std::string redirect = field(query, "redirect_uri");
    const std::string separator = redirect.find('?') == std::string::npos ? "?" : "&";
    dispatch::Lock guard(mutex_);
    if (signInError_) {
        return redirect + separator + "error=" + formEncode(*signInError_) +
               "&error_description=" + formEncode("The sign-in ended: " + *signInError_) +
               "&state=" + formEncode(field(query, "state"));
    }
    const std::string code = "code-" + std::to_string(++issued_);
    codes_[code] = {user,
                    field(query, "client_id"),
                    redirect,
                    field(query, "resource"),
                    field(query, "code_challenge"),
                    field(query, "code_challenge_method")};
    return redirect + separator + "code=" + formEncode(code) +
           "&state=" + formEncode(field(query, "state"));
}

void IdentityPeer::failSignIns(std::optional<std::string> error) {
    dispatch::Lock guard(mutex_);
    signInError_ = std::move(error);
}

void IdentityPeer::redirectAuthorizeTo(std::optional<std::string> location) {
    dispatch::Lock guard(mutex_);
    authorizeRedirect_ = std::move(location);
}

size_t IdentityPeer::verifiedCodes() const {
    dispatch::Lock guard(mutex_);
    return verified_;
}

HttpResponse IdentityPeer::redeemCode(const std::map<std::string, std::string>& form) {
    auto it = codes_.find(field(form, "code"));
    const bool known = it != codes_.end();
    const bool matches = known && it->second.clientId == field(form, "client_id") &&
                         it->second.redirectUri == field(form, "redirect_uri") &&
                         it->second.method == "S256" &&
                         s256(field(form, "code_verifier")) == it->second.challenge;
    if (!matches) {
        // A code is spent by any attempt, as a service does against guessing.
        if (known) codes_.erase(it);
        return json(
            400,
            R"({"error":"invalid_grant","error_description":"The code or its verifier is not valid."})");
    }
    const Code code = it->second;
    codes_.erase(it);
    ++verified_;
    const std::string n = std::to_string(verified_);
    // The refresh token it gives can be redeemed later, as a service's can.
    grants_["rt-code-" + n] = {code.user, "at-code-" + n + "-refreshed", "rt-code-" + n,
                               code.resource};
    return tokensFor({code.user, "at-code-" + n, "rt-code-" + n, code.resource});
}

}  // namespace peers
