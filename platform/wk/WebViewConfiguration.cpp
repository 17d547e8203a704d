#include "platform/wk/WebViewConfiguration.h"

#include "platform/ns/Exception.h"
#include "platform/wk/WebView.h"

namespace wk {
namespace {

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

WebViewConfiguration::WebViewConfiguration()
    : preferences_(Preferences::create()),
      webpagePreferences_(WebpagePreferences::create()),
      userContentController_(UserContentController::create()),
      processPool_(ProcessPool::create()),
      dataStore_(WebsiteDataStore::defaultDataStore()) {}

void WebViewConfiguration::setURLSchemeHandler(std::shared_ptr<URLSchemeHandler> handler,
                                               std::string_view scheme) {
    std::string key = lowerCase(scheme);
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
    auto it = schemeHandlers_.find(lowerCase(scheme));
    return it == schemeHandlers_.end() ? nullptr : it->second;
}

}  // namespace wk
