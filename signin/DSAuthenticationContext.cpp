#include "signin/DSAuthenticationContext.h"

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Log.h"
#include "signin/DSAuthenticationRequest.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTokenCache.h"

namespace {

// The library's version goes to the system log once, when its entry class is first used,
// whatever the sign-in logger's own level and switch.
void announceVersion() {
    static std::once_flag once;
    std::call_once(once, [] {
        ns::Log::write(ns::LogLevel::Default, "signin", {},
                       ns::format("SAL version %@", DSLogger::getSalVersion()));
    });
}

// The factories' check: a context needs an authority.
bool refuseBlankAuthority(const std::optional<std::string>& authority, DSErrorOut error,
                          DSCodeLocation where = DSCodeLocation::current()) {
    announceVersion();
    if (!dsIsStringNilOrBlank(authority)) return false;
    DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, "InvalidArgumentError: authority",
                  DS_ERROR_DEVELOPER_INVALID_ARGUMENT, DSLogger::functionAndLine(where),
                  std::nullopt);
    dsSetError(error, DSAuthenticationError::errorFromArgument(dsWithoutUserInfo(authority),
                                                               "authority", std::nullopt));
    return true;
}

std::shared_ptr<const DSUserIdentifier> identifierOf(const std::optional<std::string>& userId) {
    return userId ? DSUserIdentifier::identifierWithId(userId) : nullptr;
}

}  // namespace

DSAuthenticationContext::DSAuthenticationContext(std::string authority, bool validateAuthority)
    : authority_(std::move(authority)), validateAuthority_(validateAuthority) {}

std::shared_ptr<DSAuthenticationContext> DSAuthenticationContext::initWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority,
    std::shared_ptr<DSTokenCacheDataSource> tokenCache, DSErrorOut error) {
    announceVersion();
    if (dsIsStringNilOrBlank(authority)) {
        dsSetError(error, DSAuthenticationError::errorFromArgument(dsWithoutUserInfo(authority),
                                                                   "authority", std::nullopt));
        return nullptr;
    }
    if (!tokenCache) {
        dsSetError(error, DSAuthenticationError::unexpectedInternalError(
                              "Unable to get kecyhain token cache", std::nullopt));
        return nullptr;
    }
    auto context =
        std::make_shared<DSAuthenticationContext>(dsTrimmedString(*authority), validateAuthority);
    context->setTokenCacheStore(std::move(tokenCache));
    return context;
}

std::shared_ptr<DSAuthenticationContext> DSAuthenticationContext::initWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority, DSErrorOut error) {
    return initWithAuthority(authority, validateAuthority,
                             DSKeychainTokenCache::defaultKeychainCache(), error);
}

std::shared_ptr<DSAuthenticationContext> DSAuthenticationContext::initWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority,
    const std::string& sharedGroup, DSErrorOut error) {
    DSLogger::logAPIEntry();
    auto context = initWithAuthority(authority, validateAuthority, error);
    if (context)
        context->setTokenCacheStore(DSKeychainTokenCache::keychainCacheForGroup(sharedGroup));
    return context;
}

std::shared_ptr<DSAuthenticationContext> DSAuthenticationContext::initWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority,
    std::shared_ptr<DSTokenCacheDelegate> cacheDelegate, DSErrorOut error) {
    DSLogger::logAPIEntry();
    auto context = initWithAuthority(authority, validateAuthority, error);
    if (context) {
        auto cache = std::make_shared<DSTokenCache>();
        cache->setDelegate(std::move(cacheDelegate));
        context->setTokenCacheStore(std::move(cache));
    }
    return context;
}

bool DSAuthenticationContext::isResponseFromBroker(
    const std::optional<std::string>& sourceApplication, const std::optional<ns::URL>& response) {
    announceVersion();
    if (!response) return false;
    return dsSame(sourceApplication, std::string(kBrokerApplication));
}

bool DSAuthenticationContext::handleBrokerResponse(const ns::URL& response) {
    announceVersion();
    return DSAuthenticationRequest::internalHandleBrokerResponse(response);
}

std::shared_ptr<DSAuthenticationContext>
DSAuthenticationContext::authenticationContextWithAuthority(
    const std::optional<std::string>& authority, DSErrorOut error) {
    DSLogger::logAPIEntry();
    return authenticationContextWithAuthority(authority, true, error);
}

std::shared_ptr<DSAuthenticationContext>
DSAuthenticationContext::authenticationContextWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority, DSErrorOut error) {
    DSLogger::logAPIEntry();
    if (refuseBlankAuthority(authority, error)) return nullptr;
    return initWithAuthority(authority, validateAuthority, error);
}

std::shared_ptr<DSAuthenticationContext>
DSAuthenticationContext::authenticationContextWithAuthority(
    const std::optional<std::string>& authority, bool validateAuthority,
    const std::string& sharedGroup, DSErrorOut error) {
    DSLogger::logAPIEntry();
    if (refuseBlankAuthority(authority, error)) return nullptr;
    return initWithAuthority(authority, validateAuthority, sharedGroup, error);
}

std::shared_ptr<DSAuthenticationContext>
DSAuthenticationContext::authenticationContextWithAuthoritySharedGroup(
    const std::optional<std::string>& authority, const std::string& sharedGroup, DSErrorOut error) {
    DSLogger::logAPIEntry();
    return authenticationContextWithAuthority(authority, true, sharedGroup, error);
}

std::shared_ptr<DSTokenCacheAccessor> DSAuthenticationContext::tokenCacheStore() const {
    dispatch::Lock guard(lock_);
    return tokenCacheStore_;
}

void DSAuthenticationContext::setTokenCacheStore(
    std::shared_ptr<DSTokenCacheDataSource> dataSource) {
    dispatch::Lock guard(lock_);
    if (tokenCacheStore_ && tokenCacheStore_->dataSource() == dataSource) return;
    tokenCacheStore_ = std::make_shared<DSTokenCacheAccessor>(std::move(dataSource), authority_);
}

std::optional<std::string> DSAuthenticationContext::logComponent() const {
    dispatch::Lock guard(lock_);
    return logComponent_;
}

void DSAuthenticationContext::setLogComponent(const std::optional<std::string>& v) {
    dispatch::Lock guard(lock_);
    logComponent_ = v;
}

std::optional<ns::UUID> DSAuthenticationContext::correlationId() const {
    dispatch::Lock guard(lock_);
    return correlationId_;
}

void DSAuthenticationContext::setCorrelationId(const std::optional<ns::UUID>& v) {
    dispatch::Lock guard(lock_);
    correlationId_ = v;
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationContext::requestWithRedirectUrl(
    const std::optional<ns::URL>& redirectUri, const std::optional<std::string>& clientId,
    const std::optional<std::string>& resource, const Completion& completionBlock) {
    return requestWithRedirectString(
        redirectUri ? std::optional<std::string>(redirectUri->absoluteString()) : std::nullopt,
        clientId, resource, completionBlock);
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationContext::requestWithRedirectString(
    const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
    const std::optional<std::string>& resource, const Completion& completionBlock) {
    auto params = std::make_shared<DSRequestParameters>();
    params->setAuthority(authority_);
    params->setResource(resource);
    params->setClientId(clientId);
    params->setRedirectUri(redirectUri);
    params->setTokenCache(tokenCacheStore());
    params->setExtendedLifetime(extendedLifetimeEnabled_);
    std::optional<DSAuthenticationError> error;
    auto request = DSAuthenticationRequest::requestWithContext(shared_from_this(), params, &error);
    if (!request) {
        completionBlock(DSAuthenticationResult::resultFromError(
            error ? *error
                  : DSAuthenticationError::unexpectedInternalError("no request", correlationId()),
            correlationId()));
    }
    return request;
}

bool DSAuthenticationContext::failIfBlank(const std::optional<std::string>& value,
                                          const std::string& message,
                                          const Completion& completionBlock) const {
    if (!dsIsStringNilOrBlank(value)) return false;
    completionBlock(DSAuthenticationResult::resultFromError(
        DSAuthenticationError::invalidArgumentError(message, correlationId()), correlationId()));
    return true;
}

std::shared_ptr<DSAuthenticationRequest> DSAuthenticationContext::startAcquire(
    const std::optional<std::string>& redirectUri, const std::optional<std::string>& clientId,
    const std::optional<std::string>& resource, const Completion& completionBlock) {
    if (!completionBlock) DSLogger::raiseInvalidArgument("completionBlock");
    if (failIfBlank(clientId, "clientId cannot be nil", completionBlock)) return nullptr;
    auto request = requestWithRedirectString(redirectUri, clientId, resource, completionBlock);
    if (request) request->setLogComponent(logComponent());
    return request;
}

void DSAuthenticationContext::acquireTokenSilentWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, Completion completionBlock) {
    DSLogger::logAPIEntry();
    auto request = startAcquire(redirectUri, clientId, resource, completionBlock);
    if (!request) return;
    request->setSilent(true);
    request->acquireToken(
        "-[DSAuthenticationContext acquireTokenSilentWithResource:clientId:redirectUri:"
        "completionBlock:]",
        "7", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenSilentWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, const std::optional<std::string>& userId,
    Completion completionBlock) {
    DSLogger::logAPIEntry();
    auto request = startAcquire(redirectUri, clientId, resource, completionBlock);
    if (!request) return;
    request->setUserId(userId);
    request->setSilent(true);
    request->acquireToken(
        "-[DSAuthenticationContext acquireTokenSilentWithResource:clientId:redirectUri:userId:"
        "completionBlock:]",
        "8", std::move(completionBlock));
}

void DSAuthenticationContext::acquireInteractive(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, int32_t promptBehavior,
    std::shared_ptr<const DSUserIdentifier> userIdentifier,
    const std::optional<std::string>& extraQueryParameters, const char* methodName,
    const char* apiId, Completion completionBlock) {
    auto request = startAcquire(redirectUri, clientId, resource, completionBlock);
    if (!request) return;
    request->setPromptBehavior(promptBehavior);
    request->setUserIdentifier(std::move(userIdentifier));
    request->setExtraQueryParameters(extraQueryParameters);
    request->acquireToken(methodName, apiId, std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, Completion completionBlock) {
    DSLogger::logAPIEntry();
    acquireInteractive(resource, clientId, redirectUri, DS_PROMPT_AUTO, nullptr, std::nullopt,
                       "-[DSAuthenticationContext acquireTokenWithResource:clientId:redirectUri:"
                       "completionBlock:]",
                       "118", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, const std::optional<std::string>& userId,
    Completion completionBlock) {
    DSLogger::logAPIEntry();
    acquireInteractive(resource, clientId, redirectUri, DS_PROMPT_AUTO, identifierOf(userId),
                       std::nullopt,
                       "-[DSAuthenticationContext acquireTokenWithResource:clientId:redirectUri:"
                       "userId:completionBlock:]",
                       "121", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, const std::optional<std::string>& userId,
    const std::optional<std::string>& extraQueryParameters, Completion completionBlock) {
    DSLogger::logAPIEntry();
    acquireInteractive(resource, clientId, redirectUri, DS_PROMPT_AUTO, identifierOf(userId),
                       extraQueryParameters,
                       "-[DSAuthenticationContext acquireTokenWithResource:clientId:redirectUri:"
                       "userId:extraQueryParameters:completionBlock:]",
                       "124", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, int32_t promptBehavior,
    const std::optional<std::string>& userId,
    const std::optional<std::string>& extraQueryParameters, Completion completionBlock) {
    DSLogger::logAPIEntry();
    acquireInteractive(resource, clientId, redirectUri, promptBehavior, identifierOf(userId),
                       extraQueryParameters,
                       "-[DSAuthenticationContext acquireTokenWithResource:clientId:redirectUri:"
                       "promptBehavior:userId:extraQueryParameters:completionBlock:]",
                       "127", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenWithResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const std::optional<std::string>& redirectUri, int32_t promptBehavior,
    std::shared_ptr<const DSUserIdentifier> userIdentifier,
    const std::optional<std::string>& extraQueryParameters, Completion completionBlock) {
    DSLogger::logAPIEntry();
    acquireInteractive(resource, clientId, redirectUri, promptBehavior, std::move(userIdentifier),
                       extraQueryParameters,
                       "-[DSAuthenticationContext acquireTokenWithResource:clientId:redirectUri:"
                       "promptBehavior:userIdentifier:extraQueryParameters:completionBlock:]",
                       "130", std::move(completionBlock));
}

void DSAuthenticationContext::acquireTokenForAssertion(const std::optional<std::string>& assertion,
                                                       int32_t assertionType,
                                                       const std::optional<std::string>& resource,
                                                       const std::optional<std::string>& clientId,
                                                       const std::optional<std::string>& userId,
                                                       Completion completionBlock) {
    DSLogger::logAPIEntry();
    auto request = startAcquire(std::nullopt, clientId, resource, completionBlock);
    if (!request) return;
    if (failIfBlank(assertion, "assertion cannot be nil", completionBlock)) return;
    if (failIfBlank(resource, "resource cannot be nil", completionBlock)) return;
    request->setUserId(userId);
    request->setSamlAssertion(assertion);
    request->setAssertionType(assertionType);
    request->acquireToken(
        "-[DSAuthenticationContext acquireTokenForAssertion:assertionType:resource:clientId:"
        "userId:completionBlock:]",
        "6", std::move(completionBlock));
}

std::shared_ptr<wk::WebView> DSAuthenticationContext::webView() const {
    dispatch::Lock guard(lock_);
    return webView_.lock();
}

void DSAuthenticationContext::setWebView(const std::shared_ptr<wk::WebView>& webView) {
    dispatch::Lock guard(lock_);
    webView_ = webView;
}

std::shared_ptr<ui::ViewController> DSAuthenticationContext::parentController() const {
    dispatch::Lock guard(lock_);
    return parentController_.lock();
}

void DSAuthenticationContext::setParentController(
    const std::shared_ptr<ui::ViewController>& controller) {
    dispatch::Lock guard(lock_);
    parentController_ = controller;
}
