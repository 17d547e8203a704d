#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <map>
#include <string>

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/URLSession.h"
#include "services/LocalServices.h"
#include "services/peers/IdentityPeer.h"

namespace localservices {
std::unique_ptr<LocalService> makeIdentityService();
}  // namespace localservices

namespace {

std::string formEscape(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

struct Answer {
    int status = 0;
    std::string body;
    std::string location;
};

// One exchange with the service, as the sign-in page and the library make it.
Answer exchange(const std::string& url, const std::string& form = {}) {
    net::URLRequest request(*ns::URL::parse(url));
    if (!form.empty()) {
        request.setHTTPMethod("POST");
        request.setHTTPBody(ns::Data::fromString(form));
        request.setValue("application/x-www-form-urlencoded", "Content-Type");
    }
    auto session = net::URLSession::sessionWithConfiguration(
        net::URLSessionConfiguration::defaultSessionConfiguration());
    auto answer = std::make_shared<std::promise<Answer>>();
    auto future = answer->get_future();
    session
        ->dataTask(
            std::move(request),
            [answer](std::optional<ns::Data> data, std::shared_ptr<const net::URLResponse> response,
                     std::optional<ns::Error>) {
                Answer a;
                if (auto http = response ? response->http() : nullptr) {
                    a.status = http->statusCode();
                    a.location = http->valueForHTTPHeaderField("Location").value_or("");
                }
                if (data) a.body = std::string(data->chars());
                answer->set_value(std::move(a));
            })
        ->resume();
    session->finishTasksAndInvalidate();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
}

// The example page's sign-in against the local identity service: its authorize page, the
// form's redirect with a code, and the code redeemed once, with its verifier only.
TEST(IdentityServiceTest, SignsInTheExamplesTenantWithAProofKey) {
    localservices::LocalServices services({localservices::makeIdentityService});
    services.start();
    std::string authority;
    for (const auto& [name, value] : services.environment())
        if (name == "HYBRID_SIGNIN_AUTHORITY") authority = value;
    ASSERT_EQ(authority.rfind("https://localhost:", 0), 0u) << authority;
    ASSERT_TRUE(authority.ends_with("/example.tenant")) << authority;
    net::TLSSettings::setExtraCAFile(services.ca().caFile());

    const std::string verifier = "a-verifier-of-the-page-that-is-long-enough-43";
    const std::string query = "response_type=code&client_id=hybrid-example&redirect_uri=" +
                              std::string("x-app%3A%2F%2Fdone&state=S&code_challenge=") +
                              peers::IdentityPeer::s256(verifier) + "&code_challenge_method=S256";
    const Answer page = exchange(authority + "/oauth2/authorize?" + query);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("id=\"username\" name=\"username\" value=\"\""), std::string::npos);
    // The user the request names is filled in, as text of the page and nothing more.
    const Answer hinted =
        exchange(authority + "/oauth2/authorize?" + query + "&login_hint=ann%40example%22%3E%3Cb");
    EXPECT_NE(hinted.body.find("name=\"username\" value=\"ann@example&quot;&gt;&lt;b\">"),
              std::string::npos)
        << hinted.body;

    // The form sends the page to the redirect URI with a code and the state.
    auto signIn = [&] {
        const Answer signedIn = exchange(authority + "/oauth2/login",
                                         "username=ann%40example&request=" + formEscape(query));
        EXPECT_EQ(signedIn.status, 302);
        EXPECT_EQ(signedIn.location.rfind("x-app://done?", 0), 0u) << signedIn.location;
        const auto end = peers::IdentityPeer::parseForm(
            signedIn.location.substr(signedIn.location.find('?') + 1));
        EXPECT_EQ(end.count("state") ? end.at("state") : "", "S");
        return "grant_type=authorization_code&client_id=hybrid-example"
               "&redirect_uri=x-app%3A%2F%2Fdone&code=" +
               (end.count("code") ? end.at("code") : std::string());
    };
    const Answer tokens =
        exchange(authority + "/oauth2/token", signIn() + "&code_verifier=" + formEscape(verifier));
    EXPECT_EQ(tokens.status, 200);
    EXPECT_NE(tokens.body.find("\"access_token\""), std::string::npos) << tokens.body;

    // A code is spent by any attempt: after a wrong verifier, the right one comes too late.
    const std::string redeem = signIn();
    EXPECT_EQ(exchange(authority + "/oauth2/token", redeem + "&code_verifier=wrong").status, 400);
    EXPECT_EQ(exchange(authority + "/oauth2/token", redeem + "&code_verifier=" + verifier).status,
              400);
    net::TLSSettings::setExtraCAFile("");
}

}  // namespace
