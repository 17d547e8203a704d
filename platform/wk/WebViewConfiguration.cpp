#include "platform/wk/WebViewConfiguration.h"

#include "platform/ns/Exception.h"
#include "platform/ns/StringComponents.h"
#include "platform/wk/WebView.h"

namespace wk {

WebViewConfiguration::WebViewConfiguration()
    : preferences_(Preferences::create()),
      webpagePreferences_(WebpagePreferences::create()),
      userContentController_(UserContentController::create()),
      processPool_(ProcessPool::create()),
      dataStore_(WebsiteDataStore::defaultDataStore()) {}

void WebViewConfiguration::setURLSchemeHandler(std::shared_ptr<URLSchemeHandler> handler,
                                               std::string_view scheme) {
    std::string key = ns::asciiLowercased(scheme);
    if (WebView::handlesURLScheme(key)) {
        throw ns::Exception(
            ns::kInvalidArgumentException,
            "'" + std::string(scheme) + "' is a URL scheme that the web view handles natively");
    }
    if (schemeHandlers_.count(key)) {
        throw ns::Exception(ns::kInvalidArgumentException, "URL scheme '" + std::string(scheme) +
                                                               "' already has a registered "
                                                               "URL scheme handler");
    }
    if (handler) schemeHandlers_.emplace(std::move(key), std::move(handler));
}

std::shared_ptr<URLSchemeHandler> WebViewConfiguration::urlSchemeHandler(
    std::string_view scheme) const {
    auto it = schemeHandlers_.find(ns::asciiLowercased(scheme));
    return it == schemeHandlers_.end() ? nullptr : it->second;
}

}  // namespace wk
