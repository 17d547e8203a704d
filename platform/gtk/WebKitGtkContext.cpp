#include "platform/gtk/WebKitGtkContext.h"

#include <algorithm>
#include <filesystem>

#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/gtk/WebKitGtkWebsiteData.h"
#include "platform/ns/Sandbox.h"
#include "platform/wk/ProcessPool.h"
#include "platform/wk/WebsiteDataStore.h"

namespace wk {

WebKitGtkContext& WebKitGtkContext::shared() {
    // Never destroyed: web views may outlive static destruction order.
    static auto* context = new WebKitGtkContext();
    return *context;
}

std::string WebKitGtkContext::dataDirectory() {
    return ns::Sandbox::libraryDirectory() + "/WebKit";
}

std::string WebKitGtkContext::cacheDirectory() {
    return ns::Sandbox::cachesDirectory() + "/WebKit";
}

std::string WebKitGtkContext::cookieFile() {
    return dataDirectory() + "/Cookies.sqlite";
}

WebKitGtkContext::WebKitGtkContext() {
    const std::string data = dataDirectory();
    const std::string cache = cacheDirectory();
    manager_ = GObjectRef<WebKitWebsiteDataManager>::adopt(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    // WebKit keeps cookies in memory only unless told where to write them.
    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    webkit_cookie_manager_set_persistent_storage(
        webkit_website_data_manager_get_cookie_manager(manager_.get()), cookieFile().c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    // The default store's cookies and data are the ones the pages of these contexts use.
    WebsiteDataStore::defaultDataStore()->setBackend(
        std::make_shared<WebKitGtkWebsiteData>(manager_.get()));
}

GObjectRef<WebKitWebContext> WebKitGtkContext::makeContext() {
    auto context = GObjectRef<WebKitWebContext>::adopt(
        webkit_web_context_new_with_website_data_manager(manager_.get()));
    for (const auto& scheme : schemes_) registerSchemeOn(context.get(), scheme);
    return context;
}

WebKitWebContext* WebKitGtkContext::contextFor(const std::shared_ptr<ProcessPool>& pool) {
    if (!pool) {
        if (!poolless_) poolless_ = makeContext();
        return poolless_.get();
    }
    // A pool that has gone takes its context along; its views keep what they use.
    std::erase_if(pools_, [](const PoolContext& entry) { return entry.pool.expired(); });
    auto found = std::find_if(pools_.begin(), pools_.end(),
                              [&](const PoolContext& entry) { return entry.key == pool.get(); });
    if (found != pools_.end()) return found->context.get();
    pools_.push_back({pool.get(), pool, makeContext()});
    return pools_.back().context.get();
}

void WebKitGtkContext::registerScheme(const std::string& scheme) {
    if (!schemes_.insert(scheme).second) return;
    if (poolless_) registerSchemeOn(poolless_.get(), scheme);
    for (const auto& entry : pools_) registerSchemeOn(entry.context.get(), scheme);
}

void WebKitGtkContext::registerSchemeOn(WebKitWebContext* context, const std::string& scheme) {
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), &startSchemeRequest, nullptr,
                                           nullptr);
    auto* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
    // Only the scheme's own pages may load its resources: the engine refuses a remote page's
    // or frame's script, image or frame of it before the request is made, whatever the
    // request carries. (Registered as local, its pages would lose their own origin, as file
    // pages do, and could not fetch from themselves.)
    webkit_security_manager_register_uri_scheme_as_display_isolated(security, scheme.c_str());
}

void WebKitGtkContext::startSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
    auto engine = WebKitGtkEngine::of(webkit_uri_scheme_request_get_web_view(request));
    if (engine) {
        engine->startSchemeRequest(request);
        return;
    }
    GError* error = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL,
                                        "No web view serves this request");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

}  // namespace wk
