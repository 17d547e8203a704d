#include "bridge/HYBGestureHandler.h"

#include "bridge/HYBCommandDelegate.h"
#include "platform/ns/Log.h"
#include "platform/ui/LongPressGestureRecognizer.h"
#include "platform/ui/ScrollView.h"
#include "platform/wk/WebView.h"

namespace {

bool settingIsTrue(const ns::Dictionary& settings, const char* lowercasedName) {
    auto it = settings.find(lowercasedName);
    return it != settings.end() && it->second.boolValue();
}

}  // namespace

void HYBGestureHandler::pluginInitialize() {
    applyLongPressFix();
}

void HYBGestureHandler::applyLongPressFix() {
    auto delegate = commandDelegate();
    if (!delegate) return;
    const ns::Dictionary settings = delegate->settings();
    if (!settingIsTrue(settings, "suppresseslongpressgesture")) return;

    std::weak_ptr<HYBGestureHandler> weakSelf = sharedSelf<HYBGestureHandler>();
    auto recognizer =
        std::make_shared<ui::LongPressGestureRecognizer>([weakSelf](ui::GestureRecognizer&) {
            if (auto self = weakSelf.lock()) self->handleLongPressGestures();
        });
    recognizer->setMinimumPressDuration(kMinimumPressDuration);
    recognizer->setAllowableMovement(kAllowableMovement);
    if (settingIsTrue(settings, "suppresses3dtouchgesture")) {
        recognizer->setMinimumPressDuration(kMinimumPressDuration3DTouch);
    }
    lpgr_ = recognizer;

    auto view = webView();
    if (!view || view->subviews().empty()) {
        ns::nslog("No webview subviews found, not applying the longpress fix.");
        return;
    }
    for (const auto& subview : view->subviews()) {
        if (!std::dynamic_pointer_cast<ui::ScrollView>(subview)) continue;
        if (!subview->subviews().empty()) subview->subviews().front()->addGestureRecognizer(lpgr_);
        return;
    }
}
