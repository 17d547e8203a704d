#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPlugin.h"

class DSAuthenticationContext;
class DSAuthenticationResult;

namespace rt {
class ClassRegistry;
}  // namespace rt

// The page's directory sign-in service: contexts per authority, interactive and silent token
// acquisition, the keychain token cache and the library's log lines. Every action answers
// from a background queue; nothing the page sends can bring the program down: an argument of
// the wrong kind is an invalid-argument failure result.
class HybridSalPlugin : public HYBPlugin {
public:
    HybridSalPlugin();

    static void registerClasses(rt::ClassRegistry& registry);

    // The context registered for the authority, made with this flag when there is none yet.
    // Throws the library's error when no context can be made.
    static std::shared_ptr<DSAuthenticationContext> getOrCreateAuthContext(
        const std::optional<std::string>& authority, bool validateAuthority);
    // 0 for a redirect URI whose scheme begins with "x-dsauth-", else 1.
    static int32_t credentialsTypeFor(const std::optional<std::string>& redirectUri);

    void createAsync(const HYBInvokedUrlCommand& command);
    void acquireTokenAsync(const HYBInvokedUrlCommand& command);
    void acquireTokenSilentAsync(const HYBInvokedUrlCommand& command);
    void tokenCacheClear(const HYBInvokedUrlCommand& command);
    void tokenCacheReadItems(const HYBInvokedUrlCommand& command);
    void tokenCacheDeleteItem(const HYBInvokedUrlCommand& command);
    void setLogger(const HYBInvokedUrlCommand& command);
    void setLogLevel(const HYBInvokedUrlCommand& command);

private:
    // Runs the body in the background; the library's error (or a refused argument) it throws
    // becomes one failure result.
    void inBackground(const HYBInvokedUrlCommand& command,
                      std::function<void(const HYBInvokedUrlCommand&)> body);
    void sendResult(unsigned status, ns::Value message,
                    const std::optional<std::string>& callbackId, bool keepCallback = false);
    struct AcquireTarget;
    // The completion of an acquire call: its result goes to the command's callback.
    std::function<void(std::shared_ptr<const DSAuthenticationResult>)> sendsTo(
        const HYBInvokedUrlCommand& command);
    void sendAcquireResult(const std::shared_ptr<const DSAuthenticationResult>& result,
                           const std::optional<std::string>& callbackId);
};
