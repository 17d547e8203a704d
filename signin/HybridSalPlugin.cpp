#include "signin/HybridSalPlugin.h"

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/Exception.h"
#include "platform/ns/URL.h"
#include "platform/rt/ClassRegistry.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSLogger.h"
#include "signin/HybridSalUtils.h"

namespace {

dispatch::Mutex registryLock;
std::map<std::string, std::shared_ptr<DSAuthenticationContext>>& contexts() REQUIRES(registryLock) {
    static std::map<std::string, std::shared_ptr<DSAuthenticationContext>> registry;
    return registry;
}

// What a refused argument was, for the error's details (which are logged): its kind only,
// since the page may have put anything in it, an authority with its user information included.
std::string kindOf(const ns::Value& value) {
    if (value.isNull()) return "(null)";
    if (value.isBool()) return "(a boolean)";
    if (value.isNumber()) return "(a number)";
    if (value.isString()) return "(a text)";
    if (value.isArray()) return "(an array)";
    if (value.isDictionary()) return "(an object)";
    return "(a value of another kind)";
}

DSAuthenticationError wrongArgument(size_t index, const ns::Value& value) {
    return DSAuthenticationError::errorFromArgument(
        kindOf(value), "argument " + std::to_string(index), std::nullopt);
}

// A text argument: nothing for null or an absent position; any other kind is refused.
std::optional<std::string> textArgument(const HYBInvokedUrlCommand& command, size_t index) {
    const ns::Value value = command.argumentAtIndex(index);
    if (value.isNull()) return std::nullopt;
    if (!value.string()) throw wrongArgument(index, value);
    return *value.string();
}

// A flag argument: a boolean or a number; validation stays on when the page gives none.
bool flagArgument(const HYBInvokedUrlCommand& command, size_t index) {
    const ns::Value value = command.argumentAtIndex(index);
    if (value.isNull()) return true;
    if (!value.isBool() && !value.isNumber()) throw wrongArgument(index, value);
    return value.boolValue();
}

DSTokenCacheItems listItems(DSErrorOut error) {
    auto cache = DSKeychainTokenCache::defaultKeychainCache();
    if (!cache) return {};
    return cache->allItems(error).value_or(DSTokenCacheItems{});
}

}  // namespace

HybridSalPlugin::HybridSalPlugin() {
    registerAction("createAsync", &HybridSalPlugin::createAsync);
    registerAction("acquireTokenAsync", &HybridSalPlugin::acquireTokenAsync);
    registerAction("acquireTokenSilentAsync", &HybridSalPlugin::acquireTokenSilentAsync);
    registerAction("tokenCacheClear", &HybridSalPlugin::tokenCacheClear);
    registerAction("tokenCacheReadItems", &HybridSalPlugin::tokenCacheReadItems);
    registerAction("tokenCacheDeleteItem", &HybridSalPlugin::tokenCacheDeleteItem);
    registerAction("setLogger", &HybridSalPlugin::setLogger);
    registerAction("setLogLevel", &HybridSalPlugin::setLogLevel);
}

void HybridSalPlugin::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass("HybridSalPlugin", "HYBPlugin",
                           [] { return std::make_shared<HybridSalPlugin>(); });
}

std::shared_ptr<DSAuthenticationContext> HybridSalPlugin::getOrCreateAuthContext(
    const std::optional<std::string>& authority, bool validateAuthority) {
    // One lock around look-up and insertion: the first successful creation wins.
    dispatch::Lock guard(registryLock);
    if (authority) {
        auto it = contexts().find(*authority);
        if (it != contexts().end()) return it->second;
    }
    std::optional<DSAuthenticationError> error;
    auto context = DSAuthenticationContext::authenticationContextWithAuthority(
        authority, validateAuthority, &error);
    if (error || !context) {
        throw error ? *error
                    : DSAuthenticationError::unexpectedInternalError("No context", std::nullopt);
    }
    contexts().emplace(*authority, context);
    return context;
}

int32_t HybridSalPlugin::credentialsTypeFor(const std::optional<std::string>& redirectUri) {
    if (!redirectUri) return 1;
    std::optional<ns::URL> url = ns::URL::parse(*redirectUri);
    if (!url || !url->scheme()) return 1;
    return url->scheme()->rfind("x-dsauth-", 0) == 0 ? 0 : 1;
}

void HybridSalPlugin::sendResult(unsigned status, ns::Value message,
                                 const std::optional<std::string>& callbackId, bool keepCallback) {
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto result = message.isNull() ? HYBPluginResult::resultWithStatus(status)
                                   : std::make_shared<HYBPluginResult>(status, std::move(message));
    result->setKeepCallbackAsBool(keepCallback);
    delegate->sendPluginResult(result, callbackId);
}

void HybridSalPlugin::sendAcquireResult(const std::shared_ptr<const DSAuthenticationResult>& result,
                                        const std::optional<std::string>& callbackId) {
    sendResult(result->status() == DS_SUCCEEDED ? HYBResultStatusOK : HYBResultStatusError,
               ns::Value(HybridSalUtils::DSAuthenticationResultToDictionary(*result)), callbackId);
}

void HybridSalPlugin::inBackground(const HYBInvokedUrlCommand& command,
                                   std::function<void(const HYBInvokedUrlCommand&)> body) {
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto self = std::static_pointer_cast<HybridSalPlugin>(shared_from_this());
    delegate->runInBackground([self, command, body = std::move(body)] {
        try {
            body(command);
        } catch (const DSAuthenticationError& error) {
            self->sendResult(HYBResultStatusError,
                             ns::Value(HybridSalUtils::DSAuthenticationErrorToDictionary(error)),
                             command.callbackId());
        } catch (const ns::Exception& exception) {
            // A refused argument deep in the library: the page gets an error, not a crash.
            self->sendResult(
                HYBResultStatusError,
                ns::Value(HybridSalUtils::DSAuthenticationErrorToDictionary(
                    DSAuthenticationError::invalidArgumentError(exception.reason(), std::nullopt))),
                command.callbackId());
        }
    });
}

void HybridSalPlugin::createAsync(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        getOrCreateAuthContext(textArgument(c, 0), flagArgument(c, 1));
        sendResult(HYBResultStatusOK, ns::Value(), c.callbackId());
    });
}

// What both acquire actions read first: the context (positions 0 and 1), the resource and
// the client.
struct HybridSalPlugin::AcquireTarget {
    std::shared_ptr<DSAuthenticationContext> context;
    std::optional<std::string> resource;
    std::optional<std::string> clientId;

    static AcquireTarget read(const HYBInvokedUrlCommand& c) {
        const auto authority = textArgument(c, 0);
        const bool validate = flagArgument(c, 1);
        return {getOrCreateAuthContext(authority, validate), textArgument(c, 2),
                textArgument(c, 3)};
    }
};

std::function<void(std::shared_ptr<const DSAuthenticationResult>)> HybridSalPlugin::sendsTo(
    const HYBInvokedUrlCommand& c) {
    auto self = std::static_pointer_cast<HybridSalPlugin>(shared_from_this());
    return [self, c](std::shared_ptr<const DSAuthenticationResult> result) {
        self->sendAcquireResult(result, c.callbackId());
    };
}

void HybridSalPlugin::acquireTokenAsync(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        const AcquireTarget target = AcquireTarget::read(c);
        const auto redirectUri = textArgument(c, 4);
        const auto userId = textArgument(c, 5);
        const auto extraQuery = textArgument(c, 6);
        if (!redirectUri) throw wrongArgument(4, ns::Value());
        const auto user = HybridSalUtils::mapUserIdToUserName(target.context.get(), userId);
        dispatch::Queue::main().async(
            [target, redirectUri, user, extraQuery, completion = sendsTo(c)] {
                // Set here, on the main queue, so that two acquire calls of one context cannot
                // interleave between setting it and reading it.
                target.context->setCredentialsType(credentialsTypeFor(redirectUri));
                target.context->acquireTokenWithResource(target.resource, target.clientId,
                                                         redirectUri, DS_PROMPT_ALWAYS, user,
                                                         extraQuery, completion);
            });
    });
}

void HybridSalPlugin::acquireTokenSilentAsync(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        const AcquireTarget target = AcquireTarget::read(c);
        const auto userId = textArgument(c, 4);
        const auto user = HybridSalUtils::mapUserIdToUserName(target.context.get(), userId);
        target.context->acquireTokenSilentWithResource(target.resource, target.clientId,
                                                       std::nullopt, user, sendsTo(c));
    });
}

void HybridSalPlugin::tokenCacheClear(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        std::optional<DSAuthenticationError> error;
        DSTokenCacheItems items = listItems(&error);
        auto cache = DSKeychainTokenCache::defaultKeychainCache();
        for (const auto& item : items) {
            std::optional<DSAuthenticationError> removal;
            cache->removeItem(item.get(), &removal);
            if (removal && !error) error = removal;
        }
        if (error) throw *error;
        sendResult(HYBResultStatusOK, ns::Value(), c.callbackId());
    });
}

void HybridSalPlugin::tokenCacheReadItems(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        std::optional<DSAuthenticationError> error;
        DSTokenCacheItems items = listItems(&error);
        if (error) throw *error;
        ns::Array out;
        for (const auto& item : items)
            out.push_back(ns::Value(HybridSalUtils::DSTokenCacheStoreItemToDictionary(*item)));
        sendResult(HYBResultStatusOK, ns::Value(std::move(out)), c.callbackId());
    });
}

void HybridSalPlugin::tokenCacheDeleteItem(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        const auto authority = textArgument(c, 0);
        const bool validate = flagArgument(c, 1);
        const auto itemAuthority = textArgument(c, 2);
        const auto resource = textArgument(c, 3);
        const auto clientId = textArgument(c, 4);
        const auto userId = textArgument(c, 5);
        auto context = getOrCreateAuthContext(authority, validate);
        const auto user = HybridSalUtils::mapUserIdToUserName(context.get(), userId);
        std::optional<DSAuthenticationError> error;
        DSTokenCacheItems items = listItems(&error);
        if (error) throw *error;
        auto cache = DSKeychainTokenCache::defaultKeychainCache();
        for (const auto& item : items) {
            if (!itemAuthority || item->authority() != itemAuthority) continue;
            const auto& info = item->userInformation();
            if (!user || !info) continue;
            const auto uniqueName = info->allClaims().find("unique_name");
            const bool userMatches =
                (uniqueName != info->allClaims().end() && uniqueName->second.string() &&
                 *uniqueName->second.string() == *user) ||
                info->userId() == user;
            if (!userMatches) continue;
            if (!clientId || item->clientId() != clientId) continue;
            if (resource ? item->resource() != resource : item->resource().has_value()) continue;
            std::optional<DSAuthenticationError> removal;
            cache->removeItem(item.get(), &removal);
            if (removal) throw *removal;
        }
        sendResult(HYBResultStatusOK, ns::Value(), c.callbackId());
    });
}

void HybridSalPlugin::setLogger(const HYBInvokedUrlCommand& command) {
    auto self = std::static_pointer_cast<HybridSalPlugin>(shared_from_this());
    const std::optional<std::string> callbackId = command.callbackId();
    DSLogger::setLogCallBack([self, callbackId](DSLogLevel level, const std::string& message,
                                                const std::optional<std::string>& info,
                                                int64_t errorCode, const ns::Dictionary*) {
        ns::Dictionary line;
        line["level"] = static_cast<int64_t>(level);
        if (!message.empty()) line["message"] = message;
        if (info) line["additionalInfo"] = *info;
        line["errorCode"] = errorCode;
        self->sendResult(HYBResultStatusOK, ns::Value(std::move(line)), callbackId, true);
    });
}

void HybridSalPlugin::setLogLevel(const HYBInvokedUrlCommand& command) {
    inBackground(command, [this](const HYBInvokedUrlCommand& c) {
        const ns::Value level = c.argumentAtIndex(0);
        if (!level.isNumber()) throw wrongArgument(0, level);
        DSLogger::setLevel(static_cast<DSLogLevel>(level.intValue()));
        sendResult(HYBResultStatusOK, ns::Value(), c.callbackId());
    });
}
