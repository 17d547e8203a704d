#include <gtest/gtest.h>

#include <future>

#include "platform/net/URLError.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/StatusBar.h"
#include "services/peers/IdentityPeer.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSAuthenticationRequest.h"
#include "signin/DSAuthorizationCode.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTokenCache.h"
#include "signin/DSURLProtocol.h"
#include "signin/DSWebAuthController.h"
#include "signin/DSWebAuthViewController.h"
#include "tests/peers/LoopPump.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/PresentedScreen.h"

namespace {

using peers::IdentityPeer;
using Result = std::shared_ptr<const DSAuthenticationResult>;

constexpr const char* kClient = "client-1";
constexpr const char* kResource = "https://graph.example";
constexpr const char* kRedirect = "x-dsauth-app://signed-in";

std::map<std::string, std::string> queryOf(const ns::URL& url) {
    std::map<std::string, std::string> out;
    for (auto& [name, value] : dsURLFormDecode(url.query().value_or(""))) out[name] = value;
    return out;
}

// The interactive sign-in on the fake engine, against the loopback identity service: the test
// plays the page (it signs in at the peer and sends the page to where the form would).
class DSInteractiveSignInTest : public signintest::SigninNetTest {
protected:
    void SetUp() override {
        SigninNetTest::SetUp();
        peer_.serveTokens("tenant.example");
        peer_.serveSignIn("tenant.example");
        peer_.answerDiscovery(IdentityPeer::Discovery::Valid);
        context_ = DSAuthenticationContext::initWithAuthority(authority_, true, store_, nullptr);
        ASSERT_TRUE(context_);
    }
    void TearDown() override {
        if (auto open = DSWebAuthController::current()) open->cancel();
        loop().runUntilIdle();
        SigninNetTest::TearDown();
    }

    // Starts an interactive acquisition; its result arrives in `result_`.
    void start(int32_t prompt, const std::optional<std::string>& user,
               const std::optional<std::string>& extra = std::nullopt) {
        auto promise = std::make_shared<std::promise<Result>>();
        result_ = promise->get_future();
        calls_ = std::make_shared<std::atomic<int>>(0);
        context_->acquireTokenWithResource(
            kResource, kClient, kRedirect, prompt,
            user ? DSUserIdentifier::identifierWithId(user) : nullptr, extra,
            [promise, calls = calls_](Result r) {
                if (++*calls == 1) promise->set_value(r);
            });
    }
    // The sign-in page as loaded, once it is on screen.
    std::shared_ptr<DSWebAuthController> page() {
        EXPECT_TRUE(peers::runMainLoopUntil([] {
            auto c = DSWebAuthController::current();
            return c && c->webView()->URL() && !c->webView()->isLoading();
        }));
        return DSWebAuthController::current();
    }
    // The user signs in as `user`: the page goes where the service's form sends it.
    void signIn(const std::shared_ptr<DSWebAuthController>& controller, const std::string& user) {
        const std::string end = peer_.signIn(*controller->webView()->URL()->query(), user);
        wk::FakeEngine::of(*controller->webView())
            ->navigate(*ns::URL::parse(end), wk::NavigationType::Other);
    }
    Result result() {
        EXPECT_TRUE(peers::runMainLoopUntil([&] {
            return result_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        }));
        return result_.get();
    }
    // Nothing of the sign-in is left: no screen, no lock, no interception.
    void expectAllReleased() {
        loop().runUntilIdle();
        EXPECT_FALSE(DSWebAuthController::current());
        EXPECT_FALSE(DSAuthenticationRequest::currentModalRequest());
        EXPECT_FALSE(DSURLProtocol::endURL());
        EXPECT_EQ(calls_->load(), 1);
    }

    peers::HttpsServer server_{ca()};
    IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride useLoopback_{discovery_};
    std::string authority_ = server_.baseURL() + "/tenant.example";
    std::shared_ptr<DSTokenCache> store_ = std::make_shared<DSTokenCache>();
    std::shared_ptr<DSAuthenticationContext> context_;
    std::future<Result> result_;
    std::shared_ptr<std::atomic<int>> calls_;
};

TEST_F(DSInteractiveSignInTest, PageOpensOnTheAuthorizeUrlAndItsCodeIsRedeemedWithTheVerifier) {
    signintest::ScopedLogLines log;
    start(DS_PROMPT_ALWAYS, "u@x", "domain_hint=example.org&state=forged&redirect_uri=evil");
    auto controller = page();
    ASSERT_TRUE(controller);
    // A window of its own, showing the screen with its Cancel item.
    ASSERT_TRUE(controller->window());
    EXPECT_EQ(controller->window()->visibleControllers().back(), controller->viewController());
    EXPECT_EQ(controller->viewController()->cancelButton()->systemItem(),
              ui::BarButtonItem::SystemItem::Cancel);

    const ns::URL authorize = *controller->webView()->URL();
    EXPECT_EQ(authorize.path(), "/tenant.example/oauth2/authorize");
    auto q = queryOf(authorize);
    EXPECT_EQ(q["response_type"], "code");
    EXPECT_EQ(q["client_id"], kClient);
    EXPECT_EQ(q["redirect_uri"], kRedirect);
    EXPECT_EQ(q["resource"], kResource);
    EXPECT_EQ(q["login_hint"], "u@x");
    EXPECT_EQ(q["prompt"], "login");
    EXPECT_EQ(q["code_challenge_method"], "S256");
    EXPECT_EQ(q["code_challenge"].size(), 43u);
    EXPECT_EQ(q["domain_hint"], "example.org");
    EXPECT_NE(q["state"], "forged");
    EXPECT_GE(q["state"].size(), 22u);
    EXPECT_EQ(q["client-request-id"].size(), 36u);
    EXPECT_TRUE(DSAuthenticationRequest::currentModalRequest());
    EXPECT_EQ(DSURLProtocol::endURL(), kRedirect);
    // The page's loads are intercepted; the process's other loads are not taken.
    EXPECT_FALSE(net::URLProtocol::classForRequest(net::URLRequest(server_.url("/x"))));

    signIn(controller, "u@x");
    Result r = result();
    ASSERT_EQ(r->status(), DS_SUCCEEDED) << (r->error() ? r->error()->description() : "");
    EXPECT_EQ(r->accessToken(), "at-code-1");
    EXPECT_EQ(peer_.verifiedCodes(), 1u);
    const auto form = peer_.tokenForms().back();
    EXPECT_EQ(form.at("grant_type"), "authorization_code");
    EXPECT_EQ(form.at("redirect_uri"), kRedirect);
    EXPECT_EQ(IdentityPeer::s256(form.at("code_verifier")), q["code_challenge"]);
    expectAllReleased();
    EXPECT_TRUE(controller->window()->isHidden());

    // The tokens are stored: a silent request for them is answered from the cache.
    auto cached = store_->getItemsWithKey(nullptr, std::nullopt, {}, nullptr);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->size(), 3u);  // access token, multi-resource and family refresh tokens
    for (const char* secret :
         {"code-1", "at-code-1", "rt-code-1", form.at("code_verifier").c_str()})
        EXPECT_FALSE(log.anyContains(secret)) << secret;
}

// The user ends the sign-in with the Cancel item or by closing the screen: the cancelled status
// and error, nothing sent to the token endpoint, and nothing held.
TEST_F(DSInteractiveSignInTest, CancelOrClosingTheScreenIsTheCancelledStatus) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UI_USER_CANCEL ");
    for (bool close : {false, true}) {
        start(DS_PROMPT_ALWAYS, std::nullopt);
        auto controller = page();
        ASSERT_TRUE(controller);
        if (close) {
            EXPECT_TRUE(controller->viewController()->presentationController().dismissByUser());
        } else {
            controller->viewController()->cancelButton()->sendActions();
        }
        Result r = result();
        EXPECT_EQ(r->status(), DS_USER_CANCELLED) << close;
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), DS_ERROR_UI_USER_CANCEL);
        expectAllReleased();
    }
    EXPECT_TRUE(peer_.tokenForms().empty());
}

// The sign-in window has the main window's size: its screen starts below the status bar, which
// shows over it in light content, and its page fits below its toolbar.
TEST_F(DSInteractiveSignInTest, TheScreenLiesBelowTheStatusBarInAWindowOfTheMainWindowsSize) {
    ns::ScopedSharedInstance<ui::StatusBar> statusBar;
    start(DS_PROMPT_ALWAYS, std::nullopt);
    auto controller = page();
    ASSERT_TRUE(controller);
    EXPECT_TRUE(testsupport::liesBelowTheStatusBar(*controller->viewController()));
    controller->cancel();
    EXPECT_EQ(result()->status(), DS_USER_CANCELLED);
}

TEST_F(DSInteractiveSignInTest, ASecondPromptIsRefusedWhileOneIsUp) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS ");
    start(DS_PROMPT_ALWAYS, std::nullopt);
    auto first = page();
    ASSERT_TRUE(first);
    auto firstResult = std::move(result_);
    auto firstCalls = calls_;

    start(DS_PROMPT_ALWAYS, std::nullopt);
    Result busy = result();
    ASSERT_TRUE(busy->error());
    EXPECT_EQ(busy->error()->code(), DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS);
    EXPECT_EQ(DSWebAuthController::current(), first);

    signIn(first, "u@x");
    result_ = std::move(firstResult);
    calls_ = firstCalls;
    EXPECT_EQ(result()->status(), DS_SUCCEEDED);
    expectAllReleased();
}

// End URLs that are no answer to this request, and the answers that refuse it.
TEST_F(DSInteractiveSignInTest, EndUrlsThatAreNotThisRequestsAnswerFail) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_AUTHORIZATION_CODE ");
    expectedLog.expect("Code: DS_ERROR_SERVER_OAUTH ");
    expectedLog.expect("Code: DS_ERROR_SERVER_WRONG_USER ");
    struct Case {
        std::function<std::string(const std::string& query)> end;
        int64_t code;
    };
    const Case cases[] = {
        {[&](const std::string&) { return std::string(kRedirect) + "?code=stolen&state=other"; },
         DS_ERROR_SERVER_AUTHORIZATION_CODE},
        {[&](const std::string& q) {
             peer_.failSignIns("access_denied");
             return peer_.signIn(q, "u@x");
         },
         DS_ERROR_SERVER_OAUTH},
        // Signed in, but as someone else than the request names.
        {[&](const std::string& q) {
             peer_.failSignIns(std::nullopt);
             return peer_.signIn(q, "intruder@x");
         },
         DS_ERROR_SERVER_WRONG_USER},
    };
    for (const Case& c : cases) {
        start(DS_PROMPT_ALWAYS, "u@x");
        auto controller = page();
        ASSERT_TRUE(controller);
        const std::string end = c.end(*controller->webView()->URL()->query());
        wk::FakeEngine::of(*controller->webView())
            ->navigate(*ns::URL::parse(end), wk::NavigationType::Other);
        Result r = result();
        ASSERT_TRUE(r->error());
        EXPECT_EQ(r->error()->code(), c.code) << end;
        expectAllReleased();
    }
    EXPECT_TRUE(store_->getItemsWithKey(nullptr, std::nullopt, {}, nullptr)->empty());
}

// The page is kept to the web: a plain-http main-frame load ends the sign-in with the
// non-https error; other schemes are not followed.
TEST_F(DSInteractiveSignInTest, PageThatLeavesHttpsFails) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_NON_HTTPS_REDIRECT ");
    start(DS_PROMPT_ALWAYS, std::nullopt);
    auto controller = page();
    ASSERT_TRUE(controller);
    auto engine = wk::FakeEngine::of(*controller->webView());
    engine->navigate(*ns::URL::parse("file:///etc/passwd"), wk::NavigationType::LinkActivated);
    loop().runUntilIdle();
    EXPECT_EQ(controller->webView()->URL()->scheme(), "https");
    engine->navigate(*ns::URL::parse("http://login.example/form"),
                     wk::NavigationType::LinkActivated);
    Result r = result();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), DS_ERROR_SERVER_NON_HTTPS_REDIRECT);
    expectAllReleased();
}

// A server redirect of the page to plain http reaches the policy as no frame's in particular,
// is stopped there, and comes back as the page's load interrupted: that ends the sign-in with
// the non-https error, and the next prompt may come. A frame's http load that the policy stops,
// and a load of the page that is cancelled, do not end it.
TEST_F(DSInteractiveSignInTest, PageRedirectedToHttpFailsAndFreesThePrompt) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_NON_HTTPS_REDIRECT ");
    expectedLog.expect("Code: DS_ERROR_UI_USER_CANCEL ");
    start(DS_PROMPT_ALWAYS, std::nullopt);
    auto controller = page();
    ASSERT_TRUE(controller);
    const ns::URL plain = *ns::URL::parse("http://login.example/form");
    auto engine = wk::FakeEngine::of(*controller->webView());
    engine->navigate(plain, wk::NavigationType::Other, wk::FakeEngine::Target::SubFrame);
    loop().runUntilIdle();
    controller->didFailProvisionalNavigation(
        controller->webView(), nullptr,
        net::makeURLError(net::kURLErrorCancelled, *ns::URL::parse("https://ads.example/x")));
    loop().runUntilIdle();
    EXPECT_EQ(DSWebAuthController::current(), controller);

    controller->didFailProvisionalNavigation(controller->webView(), nullptr,
                                             net::makeURLError(net::kURLErrorCancelled, plain));
    Result r = result();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->code(), DS_ERROR_SERVER_NON_HTTPS_REDIRECT);
    expectAllReleased();
    EXPECT_TRUE(controller->window()->isHidden());

    start(DS_PROMPT_ALWAYS, std::nullopt);
    ASSERT_TRUE(page());
    DSWebAuthController::current()->cancel();
    EXPECT_EQ(result()->status(), DS_USER_CANCELLED);
}

// Automatic prompting uses a token that can be had without the page first; a silent request
// never shows the page.
TEST_F(DSInteractiveSignInTest, AutoPromptTriesTheCacheFirstAndSilentNeverPrompts) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UI_USER_CANCEL ");
    expectedLog.expect("Code: DS_ERROR_SERVER_USER_INPUT_NEEDED ");
    auto item = signintest::tokenItem("u@x", kResource, kClient, "1");
    item->setAuthority(authority_);
    store_->addOrUpdateItem(item.get(), std::nullopt, nullptr);
    start(DS_PROMPT_AUTO, "u@x");
    Result r = result();
    EXPECT_EQ(r->accessToken(), "at-1");
    EXPECT_FALSE(DSWebAuthController::current());

    start(DS_PROMPT_AUTO, "other@x");
    ASSERT_TRUE(page());
    DSWebAuthController::current()->cancel();
    EXPECT_EQ(result()->status(), DS_USER_CANCELLED);

    auto promise = std::make_shared<std::promise<Result>>();
    result_ = promise->get_future();
    context_->acquireTokenSilentWithResource(kResource, kClient, kRedirect, "other@x",
                                             [promise](Result r) { promise->set_value(r); });
    EXPECT_EQ(result()->error()->code(), DS_ERROR_SERVER_USER_INPUT_NEEDED);
    EXPECT_FALSE(DSWebAuthController::current());
}

// After the end URL, nothing that follows (a cancel, the window closed, the page's process
// gone) reaches the caller a second time.
class DSWebAuthControllerTest : public testsupport::ManualRunLoop {};

TEST_F(DSWebAuthControllerTest, EndsOnceWhateverComesAfterTheEnd) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_UNEXPECTED ");
    ASSERT_TRUE(DSURLProtocol::registerProtocol(kRedirect, nullptr));
    int calls = 0;
    DSWebAuthController::Outcome seen;
    auto controller =
        DSWebAuthController::start(*ns::URL::parse("https://login.example/t/oauth2/authorize"), {},
                                   std::nullopt, [&](DSWebAuthController::Outcome outcome) {
                                       ++calls;
                                       seen = std::move(outcome);
                                   });
    loop().runUntilIdle();
    wk::FakeEngine::of(*controller->webView())
        ->navigate(*ns::URL::parse(std::string(kRedirect) + "?code=c&state=s"),
                   wk::NavigationType::Other);
    loop().runUntilIdle();
    controller->cancel();
    controller->presentationControllerDidDismiss(
        controller->viewController()->presentationController());
    controller->webViewWebContentProcessDidTerminate(controller->webView());
    loop().runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen.kind, DSWebAuthController::Outcome::Kind::EndURL);
    EXPECT_EQ(seen.endURL->query(), "code=c&state=s");
    EXPECT_FALSE(DSWebAuthController::current());
    DSURLProtocol::unregisterProtocol();
}

TEST(DSAuthorizationCodeTest, ProofKeyFollowsRfc7636) {
    // The example of the RFC's appendix B.
    EXPECT_EQ(
        DSAuthorizationCode::ProofKey::challengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
        "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const auto a = DSAuthorizationCode::ProofKey::make();
    const auto b = DSAuthorizationCode::ProofKey::make();
    EXPECT_EQ(a.verifier.size(), 43u);
    EXPECT_NE(a.verifier, b.verifier);
    EXPECT_EQ(a.challenge, DSAuthorizationCode::ProofKey::challengeFor(a.verifier));
}

TEST(DSAuthorizationCodeTest, EndUrlAnswers) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("Code: DS_ERROR_SERVER_AUTHORIZATION_CODE ");
    expectedLog.expect("Code: DS_ERROR_SERVER_OAUTH ");
    struct Case {
        const char* url;
        std::optional<std::string> code;
        int64_t error;
    };
    const Case cases[] = {
        {"x-app://done?code=abc&state=S", "abc", 0},
        {"x-app://done?state=S&code=a%2Bb+c", "a+b c", 0},
        {"x-app://done#code=frag&state=S", "frag", 0},
        {"x-app://done?code=abc&state=T", std::nullopt, DS_ERROR_SERVER_AUTHORIZATION_CODE},
        {"x-app://done?code=abc", std::nullopt, DS_ERROR_SERVER_AUTHORIZATION_CODE},
        {"x-app://done?code=&state=S", std::nullopt, DS_ERROR_SERVER_AUTHORIZATION_CODE},
        {"x-app://done?code=a&code=b&state=S", std::nullopt, DS_ERROR_SERVER_AUTHORIZATION_CODE},
        {"x-app://done?error=access_denied&error_description=No+way", std::nullopt,
         DS_ERROR_SERVER_OAUTH},
    };
    for (const Case& c : cases) {
        auto answer = DSAuthorizationCode::readEndURL(*ns::URL::parse(c.url), "S", std::nullopt);
        EXPECT_EQ(answer.code, c.code) << c.url;
        EXPECT_EQ(answer.error ? answer.error->code() : 0, c.error) << c.url;
    }
    auto denied = DSAuthorizationCode::readEndURL(
        *ns::URL::parse("x-app://done?error=access_denied&error_description=No+way"), "S",
        std::nullopt);
    EXPECT_EQ(denied.error->protocolCode(), "access_denied");
    EXPECT_EQ(denied.error->errorDetails(), "No way");
}

}  // namespace
