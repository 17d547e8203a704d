#include "bridge/HYBHandleOpenURL.h"

#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/NSString+HYBJavaScriptLiteral.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"

void HYBHandleOpenURL::pluginInitialize() {
    std::weak_ptr<HYBHandleOpenURL> weakSelf = sharedSelf<HYBHandleOpenURL>();
    auto& center = ns::NotificationCenter::defaultCenter();
    center.addObserver(this, HYBPluginHandleOpenURLNotification, nullptr,
                       [weakSelf](const ns::Notification& n) {
                           if (auto self = weakSelf.lock()) self->applicationLaunchedWithUrl(n);
                       });
    center.addObserver(this, HYBPageDidLoadNotification, nullptr,
                       [weakSelf](const ns::Notification& n) {
                           if (auto self = weakSelf.lock()) self->applicationPageDidLoad(n);
                       });
}

void HYBHandleOpenURL::applicationLaunchedWithUrl(const ns::Notification& notification) {
    auto url = std::dynamic_pointer_cast<ns::Box<ns::URL>>(notification.object);
    if (!url) return;
    url_ = url->value();
    if (pageLoaded_) {
        processOpenUrl(*url_, true);
        url_.reset();
    }
}

void HYBHandleOpenURL::applicationPageDidLoad(const ns::Notification& /*notification*/) {
    pageLoaded_ = true;
    if (url_) {
        processOpenUrl(*url_, true);
        url_.reset();
    }
}

std::string HYBHandleOpenURL::openURLScript(const ns::URL& url) {
    return "document.addEventListener('deviceready',function(){if (typeof handleOpenURL === "
           "'function') { handleOpenURL(" +
           hyb_JavaScriptStringLiteral(url.absoluteString()) + ");}});";
}

void HYBHandleOpenURL::processOpenUrl(const ns::URL& url, bool /*pageLoaded*/) {
    if (auto engine = webViewEngine()) engine->evaluateJavaScript(openURLScript(url), nullptr);
}
