#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/gtk/GObjectRef.h"

namespace wk {

class ProcessPool;

// The application's web contexts and their one website data manager. The data (cookies,
// storage, caches) is kept under the sandbox (Library/WebKit and Library/Caches/WebKit) rather
// than in the user's own data folders; cookies that outlive the session are written to a file
// there too, so that they survive a restart. Every context shares that data; each process pool
// of the program has a context of its own, so that views of a fresh pool get web processes of
// their own with nothing of the others in them.
//
// Custom URL schemes are registered on every context, once each: secure and CORS-enabled, so
// that pages served from them form a secure origin that can fetch from itself, and display
// isolated, so that no page of another scheme (a remote page or frame) may load their
// resources. Each request goes to the engine of the web view that made it. Made on first use; main
// thread only.
class WebKitGtkContext {
public:
    static WebKitGtkContext& shared();

    // The context of the views on `pool`, made on first use (views without a pool share one).
    WebKitWebContext* contextFor(const std::shared_ptr<ProcessPool>& pool);
    // Idempotent; scheme names are lower-case.
    void registerScheme(const std::string& scheme);

    static std::string dataDirectory();
    static std::string cacheDirectory();
    // The file of the cookies that outlive the session.
    static std::string cookieFile();

private:
    struct PoolContext {
        const ProcessPool* key;
        std::weak_ptr<ProcessPool> pool;
        GObjectRef<WebKitWebContext> context;
    };

    WebKitGtkContext();
    GObjectRef<WebKitWebContext> makeContext();
    void registerSchemeOn(WebKitWebContext* context, const std::string& scheme);
    static void startSchemeRequest(WebKitURISchemeRequest* request, gpointer);

    GObjectRef<WebKitWebsiteDataManager> manager_;
    GObjectRef<WebKitWebContext> poolless_;
    std::vector<PoolContext> pools_;
    std::set<std::string> schemes_;
};

}  // namespace wk
