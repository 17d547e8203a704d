#include "signin/DSAuthenticationRequest.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Format.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSAuthorizationCode.h"
#include "signin/DSClientMetrics.h"
#include "signin/DSHelpers.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTelemetry.h"
#include "signin/DSTelemetryUIEvent.h"
#include "signin/DSTokenCacheAccessor.h"
#include "signin/DSTokenResponse.h"
#include "signin/DSURLProtocol.h"
#include "signin/DSWebRequest.h"

namespace {

// The interactive prompt's exclusion: one flag, taken without waiting.
std::atomic<bool> exclusionHeld{false};
dispatch::Mutex modalLock;
std::shared_ptr<DSAuthenticationRequest> modalRequest GUARDED_BY(modalLock);

// What an interactive sign-in holds while its page is up: the exclusion lock (taken before it
// is made) and the URL interception of the page's loads. Both go when it goes, on every path.
class SignInHold {
public:
    SignInHold(const std::string& endURL, std::shared_ptr<DSTelemetryUIEvent> event) {
        DSURLProtocol::interceptSignInPage(endURL, std::move(event));
    }
    ~SignInHold() {
        DSURLProtocol::stopIntercepting();
        DSAuthenticationRequest::releaseExclusionLock();
    }
    SignInHold(const SignInHold&) = delete;
    SignInHold& operator=(const SignInHold&) = delete;
};

// The error code of the initialiser's refusals, which have no error object to carry one.
constexpr int64_t kMissingInitArgumentCode = 2;

void logMissing(const char* argument) {
    DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, ns::format("%s must not be nil!", argument),
                  kMissingInitArgumentCode, std::nullopt, std::nullopt);
}

constexpr const char* kUserInputNeeded =
    "The user credentials are needed to obtain access token. Please call the non-silent "
    "acquireTokenWithResource methods.";

}  // namespace

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationRequest::requestWithContext(
    std::shared_ptr<DSAuthenticationContext> context,
    std::shared_ptr<DSRequestParameters> requestParams, DSErrorOut error) {
    if (!context) {
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "context", std::nullopt));
        return nullptr;
    }
    if (!requestParams || !requestParams->clientId()) {
        dsSetError(error, DSAuthenticationError::errorFromArgument(
                              std::nullopt, "[requestParams clientId]", context->correlationId()));
        return nullptr;
    }
    return initWithContext(std::move(context), std::move(requestParams));
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationRequest::initWithContext(
    std::shared_ptr<DSAuthenticationContext> context,
    std::shared_ptr<DSRequestParameters> requestParams) {
    if (!context) {
        logMissing("context");
        return nullptr;
    }
    if (!requestParams || !requestParams->clientId()) {
        logMissing("[requestParams clientId]");
        return nullptr;
    }
    return std::make_shared<DSAuthenticationRequest>(std::move(context), std::move(requestParams));
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationRequest::requestWithContext(
    std::shared_ptr<DSAuthenticationContext> context) {
    if (!context) {
        logMissing("context");
        return nullptr;
    }
    return std::make_shared<DSAuthenticationRequest>(std::move(context),
                                                     std::make_shared<DSRequestParameters>());
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationRequest::requestWithAuthority(
    const std::optional<std::string>& authority) {
    return requestWithContext(
        DSAuthenticationContext::initWithAuthority(authority, false, nullptr));
}

DSAuthenticationRequest::DSAuthenticationRequest(std::shared_ptr<DSAuthenticationContext> context,
                                                 std::shared_ptr<DSRequestParameters> requestParams)
    : context_(std::move(context)), requestParams_(std::move(requestParams)) {}

bool DSAuthenticationRequest::startedWarning(const char* operation) const {
    if (!requestStarted_) return false;
    DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr,
                        ns::format("call to %s after the request started. call has no effect.",
                                   ns::format("-[DSAuthenticationRequest %s]", operation)),
                        0, std::nullopt, nullptr, "");
    return true;
}

void DSAuthenticationRequest::setScope(const std::optional<std::string>& scope) {
    if (!startedWarning("setScope:")) scope_ = scope;
}
void DSAuthenticationRequest::setExtraQueryParameters(const std::optional<std::string>& q) {
    if (!startedWarning("setExtraQueryParameters:")) queryParams_ = q;
}
void DSAuthenticationRequest::setUserIdentifier(
    std::shared_ptr<const DSUserIdentifier> identifier) {
    if (!startedWarning("setUserIdentifier:")) requestParams_->setIdentifier(std::move(identifier));
}
void DSAuthenticationRequest::setUserId(const std::optional<std::string>& userId) {
    if (!startedWarning("setUserId:"))
        requestParams_->setIdentifier(userId ? DSUserIdentifier::identifierWithId(userId)
                                             : nullptr);
}
void DSAuthenticationRequest::setPromptBehavior(int32_t promptBehavior) {
    if (!startedWarning("setPromptBehavior:")) promptBehavior_ = promptBehavior;
}
void DSAuthenticationRequest::setSilent(bool silent) {
    if (!startedWarning("setSilent:")) silent_ = silent;
}
void DSAuthenticationRequest::setCorrelationId(const std::optional<ns::UUID>& correlationId) {
    if (startedWarning("setCorrelationId:")) return;
    dispatch::Lock guard(idsLock_);
    requestParams_->setCorrelationId(correlationId);
}
void DSAuthenticationRequest::setSamlAssertion(const std::optional<std::string>& assertion) {
    if (!startedWarning("setSamlAssertion:")) samlAssertion_ = assertion;
}
void DSAuthenticationRequest::setAssertionType(int32_t assertionType) {
    if (!startedWarning("setAssertionType:")) assertionType_ = assertionType;
}

std::string DSAuthenticationRequest::logComponent() const {
    dispatch::Lock guard(idsLock_);
    return logComponent_;
}

void DSAuthenticationRequest::setLogComponent(const std::optional<std::string>& component) {
    dispatch::Lock guard(idsLock_);
    logComponent_ = component.value_or("");
}

std::optional<ns::UUID> DSAuthenticationRequest::correlationId() const {
    dispatch::Lock guard(idsLock_);
    if (!requestParams_->correlationId()) {
        std::optional<ns::UUID> fromContext = context_->correlationId();
        requestParams_->setCorrelationId(fromContext ? *fromContext : ns::UUID());
    }
    return requestParams_->correlationId();
}

std::optional<std::string> DSAuthenticationRequest::telemetryRequestId() const {
    dispatch::Lock guard(idsLock_);
    if (!requestParams_->telemetryRequestId())
        requestParams_->setTelemetryRequestId(DSTelemetry::sharedInstance().registerNewRequest());
    return requestParams_->telemetryRequestId();
}

void DSAuthenticationRequest::ensureRequest() {
    if (requestStarted_) return;
    correlationId();
    telemetryRequestId();
    requestStarted_ = true;
}

bool DSAuthenticationRequest::takeExclusionLock(const Completion& completion) {
    if (!completion) DSLogger::raiseInvalidArgument("completionBlock");
    bool expected = false;
    if (!exclusionHeld.compare_exchange_strong(expected, true)) {
        completion(DSAuthenticationResult::resultFromError(
            DSAuthenticationError::errorFromAuthenticationError(
                DS_ERROR_UI_MULTLIPLE_INTERACTIVE_REQUESTS, std::nullopt,
                "The user is currently prompted for credentials as result of another "
                "acquireToken request. Please retry the acquireToken call later.",
                correlationId()),
            correlationId()));
        return false;
    }
    dispatch::Lock guard(modalLock);
    modalRequest = shared_from_this();
    return true;
}

void DSAuthenticationRequest::releaseExclusionLock() {
    {
        dispatch::Lock guard(modalLock);
        modalRequest.reset();
    }
    exclusionHeld.store(false);
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationRequest::currentModalRequest() {
    dispatch::Lock guard(modalLock);
    return modalRequest;
}

bool DSAuthenticationRequest::internalHandleBrokerResponse(const ns::URL& response) {
    DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "Broker response not handled", 0, std::nullopt,
                        nullptr, "No broker serves this program (scheme %@)",
                        response.scheme().value_or("(null)"));
    return false;
}

void DSAuthenticationRequest::finish(std::shared_ptr<const DSAuthenticationResult> result) {
    if (completed_.exchange(true)) return;
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    if (completion) completion(std::move(result));
}

void DSAuthenticationRequest::finishWithError(const DSAuthenticationError& error) {
    finish(DSAuthenticationResult::resultFromError(error, correlationId()));
}

std::string DSAuthenticationRequest::tokenEndpoint() const {
    std::string authority = requestParams_->authority().value_or("");
    while (!authority.empty() && authority.back() == '/') authority.pop_back();
    return authority + "/oauth2/token";
}

void DSAuthenticationRequest::acquireToken(const std::string& methodName, const std::string& apiId,
                                           Completion completionBlock) {
    if (!completionBlock) DSLogger::raiseInvalidArgument("completionBlock");
    ensureRequest();
    completion_ = std::move(completionBlock);
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "acquireToken", 0, correlationId(), nullptr,
                        "%@ [apiId %@]", methodName, apiId);

    const std::optional<std::string>& authority = requestParams_->authority();
    if (!context_->validateAuthority() || DSHelpers::isFDSInstance(authority)) {
        afterValidation();
        return;
    }
    auto self = shared_from_this();
    DSInstanceDiscovery::current().validateAuthority(
        authority, *requestParams_,
        [self](bool validated, const std::optional<DSAuthenticationError>& error) {
            if (!validated) {
                self->finishWithError(
                    error ? *error
                          : DSAuthenticationError::unexpectedInternalError(
                                "Authority validation failed", self->correlationId()));
                return;
            }
            self->afterValidation();
        });
}

void DSAuthenticationRequest::afterValidation() {
    if (samlAssertion_) {
        redeemAssertion();
        return;
    }
    if (!silent_ && promptBehavior_ != DS_PROMPT_AUTO) {
        requestAuthorization();
        return;
    }
    lookUpAccessToken();
}

void DSAuthenticationRequest::lookUpAccessToken() {
    const auto& cache = requestParams_->tokenCache();
    if (!cache) {
        noTokenFound();
        return;
    }
    std::optional<DSAuthenticationError> error;
    std::shared_ptr<DSTokenCacheItem> item =
        cache->getATRTItemForUser(requestParams_->identifier().get(), requestParams_->resource(),
                                  requestParams_->clientId(), *this, &error);
    if (error) {
        finishWithError(*error);
        return;
    }
    if (item && !dsIsStringNilOrBlank(item->accessToken()) && !item->isExpired()) {
        finish(DSAuthenticationResult::resultFromTokenCacheItem(item, false, correlationId()));
        return;
    }
    if (item && !dsIsStringNilOrBlank(item->refreshToken())) {
        auto self = shared_from_this();
        redeemRefreshToken(*item->refreshToken(), item,
                           [self] { self->tryMultiResourceRefreshToken(); });
        return;
    }
    tryMultiResourceRefreshToken();
}

void DSAuthenticationRequest::tryMultiResourceRefreshToken() {
    std::optional<DSAuthenticationError> error;
    mrrtItem_ = requestParams_->tokenCache()->getMRRTItemForUser(
        requestParams_->identifier().get(), requestParams_->clientId(), *this, &error);
    if (mrrtItem_ && !dsIsStringNilOrBlank(mrrtItem_->refreshToken())) {
        auto self = shared_from_this();
        redeemRefreshToken(*mrrtItem_->refreshToken(), mrrtItem_,
                           [self] { self->tryFamilyRefreshToken(); });
        return;
    }
    tryFamilyRefreshToken();
}

void DSAuthenticationRequest::tryFamilyRefreshToken() {
    if (attemptedFRT_) {
        noTokenFound();
        return;
    }
    attemptedFRT_ = true;
    std::optional<DSAuthenticationError> error;
    std::shared_ptr<DSTokenCacheItem> frt = requestParams_->tokenCache()->getFRTItemForUser(
        requestParams_->identifier().get(), mrrtItem_ ? mrrtItem_->familyId() : std::nullopt, *this,
        &error);
    if (frt && !dsIsStringNilOrBlank(frt->refreshToken())) {
        auto self = shared_from_this();
        redeemRefreshToken(*frt->refreshToken(), frt, [self] { self->noTokenFound(); });
        return;
    }
    noTokenFound();
}

void DSAuthenticationRequest::noTokenFound() {
    if (!silent_) {
        requestAuthorization();
        return;
    }
    if (underlyingError_) {
        finishWithError(*underlyingError_);
        return;
    }
    finishWithError(DSAuthenticationError::errorFromAuthenticationError(
        DS_ERROR_SERVER_USER_INPUT_NEEDED, std::nullopt, kUserInputNeeded, correlationId()));
}

void DSAuthenticationRequest::requestAuthorization() {
    if (!requestParams_->redirectUri() || requestParams_->redirectUri()->empty()) {
        finishWithError(DSAuthenticationError::invalidArgumentError(
            "The interactive sign-in needs a redirect URI.", correlationId()));
        return;
    }
    // The page is a screen: it is made and driven on the main thread, whichever thread the
    // flow has reached this on (a web request's queue after validation or a refresh).
    auto self = shared_from_this();
    if (dispatch::RunLoop::isMainThread()) {
        showSignIn();
    } else {
        dispatch::Queue::main().async([self] { self->showSignIn(); });
    }
}

std::optional<std::string> DSAuthenticationRequest::promptParameter() const {
    switch (promptBehavior_) {
        case DS_PROMPT_ALWAYS:
        case DS_FORCE_PROMPT:
            return "login";
        case DS_PROMPT_REFRESH_SESSION:
            return "refresh_session";
        default:
            return std::nullopt;
    }
}

void DSAuthenticationRequest::showSignIn() {
    HYB_EXPECT_MAIN_THREAD();
    auto self = shared_from_this();
    if (!takeExclusionLock([self](std::shared_ptr<const DSAuthenticationResult> busy) {
            self->finish(std::move(busy));
        })) {
        return;
    }
    const std::string endURL = *requestParams_->redirectUri();
    auto event = std::make_shared<DSTelemetryUIEvent>(DSTelemetryUIEvent::kEventName, *this);
    auto hold = std::make_shared<SignInHold>(endURL, event);
    DSTelemetry::sharedInstance().startEvent(telemetryRequestId(),
                                             std::string(DSTelemetryUIEvent::kEventName));

    const DSAuthorizationCode::ProofKey proofKey = DSAuthorizationCode::ProofKey::make();
    DSAuthorizationCode::Parameters parameters;
    parameters.authority = requestParams_->authority().value_or("");
    parameters.clientId = requestParams_->clientId().value_or("");
    parameters.redirectUri = endURL;
    parameters.resource = requestParams_->resource();
    parameters.state = DSAuthorizationCode::newState();
    parameters.correlationId = correlationId();
    if (const auto& identifier = requestParams_->identifier())
        parameters.loginHint = identifier->userId();
    parameters.prompt = promptParameter();
    parameters.extraQueryParameters = queryParams_;
    parameters.codeChallenge = proofKey.challenge;
    const std::optional<ns::URL> authorizeURL = DSAuthorizationCode::authorizeURL(parameters);
    if (!authorizeURL) {
        hold.reset();
        finishWithError(DSAuthenticationError::errorFromArgument(
            dsWithoutUserInfo(requestParams_->authority()), "authority", correlationId()));
        return;
    }
    DSWebAuthController::Presentation presentation{context_->parentController(),
                                                   context_->webView()};
    DSWebAuthController::start(
        *authorizeURL, presentation, correlationId(),
        [self, hold, event, state = parameters.state,
         verifier = proofKey.verifier](DSWebAuthController::Outcome outcome) mutable {
            // The page is gone: the next prompt may come, and loads are the network's again.
            hold.reset();
            if (outcome.kind == DSWebAuthController::Outcome::Kind::Cancelled)
                event->setUserCancel("yes");
            DSTelemetry::sharedInstance().stopEvent(self->telemetryRequestId(), event);
            self->afterSignIn(outcome, state, verifier);
        });
}

void DSAuthenticationRequest::afterSignIn(const DSWebAuthController::Outcome& outcome,
                                          const std::string& state, const std::string& verifier) {
    switch (outcome.kind) {
        case DSWebAuthController::Outcome::Kind::Cancelled:
            finish(DSAuthenticationResult::resultFromCancellation(correlationId()));
            return;
        case DSWebAuthController::Outcome::Kind::Failed:
            finishWithError(outcome.error ? *outcome.error
                                          : DSAuthenticationError::unexpectedInternalError(
                                                "The sign-in page failed.", correlationId()));
            return;
        case DSWebAuthController::Outcome::Kind::EndURL:
            break;
    }
    const DSAuthorizationCode::Answer answer =
        DSAuthorizationCode::readEndURL(*outcome.endURL, state, correlationId());
    if (answer.error) {
        finishWithError(*answer.error);
        return;
    }
    exchangeCode(*answer.code, verifier);
}

void DSAuthenticationRequest::exchangeCode(const std::string& code, const std::string& verifier) {
    std::map<std::string, std::string> form = {
        {"grant_type", "authorization_code"},
        {"code", code},
        {"client_id", requestParams_->clientId().value_or("")},
        {"redirect_uri", requestParams_->redirectUri().value_or("")},
        {"code_verifier", verifier},
    };
    if (requestParams_->resource()) form["resource"] = *requestParams_->resource();
    sendTokenRequest(std::move(form), nullptr, std::nullopt, nullptr);
}

void DSAuthenticationRequest::redeemRefreshToken(const std::string& refreshToken,
                                                 std::shared_ptr<DSTokenCacheItem> cacheItem,
                                                 Next onRejected) {
    std::map<std::string, std::string> form = {
        {"grant_type", "refresh_token"},
        {"refresh_token", refreshToken},
        {"client_id", requestParams_->clientId().value_or("")},
    };
    if (requestParams_->resource()) form["resource"] = *requestParams_->resource();
    sendTokenRequest(std::move(form), std::move(cacheItem), refreshToken, std::move(onRejected));
}

void DSAuthenticationRequest::redeemAssertion() {
    std::map<std::string, std::string> form = {
        {"grant_type", assertionType_ == 1 ? "urn:ietf:params:oauth:grant-type:saml2-bearer"
                                           : "urn:ietf:params:oauth:grant-type:saml1_1-bearer"},
        {"assertion", Base64EncodeData(ns::Data::fromString(*samlAssertion_))},
        {"client_id", requestParams_->clientId().value_or("")},
        {"resource", requestParams_->resource().value_or("")},
        {"scope", "openid"},
    };
    sendTokenRequest(std::move(form), nullptr, std::nullopt, nullptr);
}

void DSAuthenticationRequest::sendTokenRequest(std::map<std::string, std::string> form,
                                               std::shared_ptr<DSTokenCacheItem> cacheItem,
                                               std::optional<std::string> refreshToken,
                                               Next onRejected) {
    const std::string endpoint = tokenEndpoint();
    const std::optional<ns::URL> url = ns::URL::parse(endpoint);
    if (!url) {
        finishWithError(DSAuthenticationError::errorFromArgument(
            dsWithoutUserInfo(requestParams_->authority()), "authority", correlationId()));
        return;
    }
    DSLogger::log(DS_LOG_LEVEL_VERBOSE, nullptr, "Token request", 0, endpoint, correlationId());
    auto request = DSWebRequest::initWithURL(*url, *this);
    net::setHeaderValue(request->headers(), "Accept", "application/json");
    net::setHeaderValue(request->headers(), "Content-Type", "application/x-www-form-urlencoded");
    request->setBody(ns::Data::fromString(dsURLFormEncode(form)));
    const ns::Date startTime = ns::Date::now();
    DSClientMetrics::getInstance().addClientMetrics(request->headers(), endpoint);

    DSTokenResponse::Request made{requestParams_->authority(), requestParams_->resource(),
                                  requestParams_->clientId(), refreshToken, cacheItem};
    auto self = shared_from_this();
    request->send([self, made = std::move(made), endpoint, startTime, cacheItem,
                   onRejected = std::move(onRejected)](std::optional<ns::Error> transportError,
                                                       std::shared_ptr<DSWebResponse> response) {
        std::shared_ptr<const DSAuthenticationResult> result;
        if (transportError) {
            result = DSAuthenticationResult::resultFromError(
                DSAuthenticationError::errorFromNSError(
                    *transportError, transportError->localizedDescription(), self->correlationId()),
                self->correlationId());
        } else {
            result = DSTokenResponse::processTokenResponse(
                response->statusCode(), response->body().chars(), made, self->correlationId());
        }
        const std::optional<DSAuthenticationError>& error = result->error();
        DSClientMetrics::getInstance().endClientMetricsRecord(
            endpoint, startTime, self->correlationId(),
            error ? error->errorDetails() : std::optional<std::string>());
        self->afterTokenResponse(std::move(result), cacheItem, made.refreshToken, onRejected);
    });
}

void DSAuthenticationRequest::afterTokenResponse(
    std::shared_ptr<const DSAuthenticationResult> result,
    std::shared_ptr<DSTokenCacheItem> cacheItem, const std::optional<std::string>& refreshToken,
    const Next& onRejected) {
    const std::shared_ptr<DSTokenCacheAccessor>& cache = requestParams_->tokenCache();
    if (result->status() == DS_SUCCEEDED) {
        // Tokens of another user than the one asked for are neither stored nor handed out.
        const auto& identifier = requestParams_->identifier();
        const auto& info = result->tokenCacheItem()->userInformation();
        if (identifier && identifier->userId() && info &&
            !DSUserIdentifier::identifierMatchesInfo(identifier.get(), info.get())) {
            finishWithError(DSAuthenticationError::errorFromAuthenticationError(
                DS_ERROR_SERVER_WRONG_USER, std::nullopt,
                "A different user was returned by the server than the one the request was made "
                "for.",
                correlationId()));
            return;
        }
        if (cache) cache->updateCacheToResult(result, cacheItem.get(), refreshToken, *this);
        finish(std::move(result));
        return;
    }
    const std::optional<DSAuthenticationError>& error = result->error();
    if (error && error->code() == DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED) {
        // The rejected token is tombstoned, and the next one may still serve the request.
        if (cache) cache->updateCacheToResult(result, cacheItem.get(), refreshToken, *this);
        underlyingError_ = *error;
        if (onRejected) {
            onRejected();
            return;
        }
    }
    finish(std::move(result));
}
