#pragma once

#include <webkit2/webkit2.h>

#include <set>
#include <string>

#include "platform/gtk/GObjectRef.h"

namespace wk {

// The application's one web context: its web processes, its network session and its
// website data, kept under the sandbox (Library/WebKit and Library/Caches/WebKit) rather
// than in the user's own data folders. Custom URL schemes are registered here, once each, as
// secure and CORS-enabled, so that pages served from them form a secure origin that can
// fetch from itself; each request goes to the engine of the web view that made it. Made on
// first use; main thread only.
class WebKitGtkContext {
public:
    static WebKitGtkContext& shared();

    WebKitWebContext* context() const { return context_.get(); }
    // Idempotent; scheme names are lower-case.
    void registerScheme(const std::string& scheme);
    bool isSchemeRegistered(const std::string& scheme) const { return schemes_.count(scheme); }

    static std::string dataDirectory();
    static std::string cacheDirectory();

private:
    WebKitGtkContext();
    static void startSchemeRequest(WebKitURISchemeRequest* request, gpointer);

    GObjectRef<WebKitWebContext> context_;
    std::set<std::string> schemes_;
};

}  // namespace wk
