#include "bridge/HYBAppDelegate.h"

#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

bool HYBAppDelegate::implements(ui::DelegateOp op) const {
    return op == ui::DelegateOp::DidFinishLaunching || op == ui::DelegateOp::OpenURL ||
           op == ui::DelegateOp::SupportedInterfaceOrientations;
}

bool HYBAppDelegate::didFinishLaunchingWithOptions(ui::Application& /*application*/,
                                                   const ns::Dictionary& /*launchOptions*/) {
    window_ = ui::Window::create(ui::Screen::main().bounds());
    window_->setAutoresizesSubviews(true);
    if (!viewController_) viewController_ = HYBViewController::create();
    window_->setRootViewController(viewController_);
    // Showing the window loads the controller's view: its start-up runs here.
    window_->makeKeyAndVisible();
    return true;
}

bool HYBAppDelegate::openURL(ui::Application& /*application*/, const std::optional<ns::URL>& url,
                             const ns::Dictionary& options) {
    if (!url) {
        // An address the URL parser refused: the page hears nothing rather than another one.
        ns::nslog("Asked to open an address that is no URL; nothing is handed to the page.");
        return false;
    }
    ns::Dictionary details{{"url", url->absoluteString()}};
    if (auto it = options.find(ui::kApplicationOpenURLOptionsSourceApplicationKey);
        it != options.end()) {
        details["sourceApplication"] = it->second;
    }
    if (auto it = options.find(ui::kApplicationOpenURLOptionsAnnotationKey); it != options.end()) {
        details["annotation"] = it->second;
    }
    auto& center = ns::NotificationCenter::defaultCenter();
    center.post(HYBPluginHandleOpenURLNotification, std::make_shared<ns::Box<ns::URL>>(*url));
    center.post(HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification,
                std::make_shared<ns::Box<ns::Dictionary>>(std::move(details)));
    return true;
}

ui::InterfaceOrientationMask HYBAppDelegate::supportedInterfaceOrientationsForWindow(
    ui::Application& /*application*/, const std::shared_ptr<ui::Window>& /*window*/) {
    return ui::kInterfaceOrientationMaskAll;
}
