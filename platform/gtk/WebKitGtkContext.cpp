#include "platform/gtk/WebKitGtkContext.h"

#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/gtk/WebKitGtkWebsiteData.h"
#include "platform/ns/Sandbox.h"
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

WebKitGtkContext::WebKitGtkContext() {
    const std::string data = dataDirectory();
    const std::string cache = cacheDirectory();
    auto manager = GObjectRef<WebKitWebsiteDataManager>::adopt(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    context_ = GObjectRef<WebKitWebContext>::adopt(
        webkit_web_context_new_with_website_data_manager(manager.get()));
    // The default store's cookies and data are the ones the pages of this context use.
    WebsiteDataStore::defaultDataStore()->setBackend(
        std::make_shared<WebKitGtkWebsiteData>(manager.get()));
}

void WebKitGtkContext::registerScheme(const std::string& scheme) {
    if (!schemes_.insert(scheme).second) return;
    webkit_web_context_register_uri_scheme(context_.get(), scheme.c_str(), &startSchemeRequest,
                                           nullptr, nullptr);
    auto* security = webkit_web_context_get_security_manager(context_.get());
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
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
