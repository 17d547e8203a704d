#include "plugins/media_browser/HYBWKInAppBrowserViewController.h"

#include "bridge/HYBWebViewProcessPoolFactory.h"
#include "bridge/HYBWebViewWeakScriptMessageHandler.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

double HYBWKInAppBrowserViewController::lastStatusBarOffset_ = 0;

std::shared_ptr<HYBWKInAppBrowserViewController>
HYBWKInAppBrowserViewController::initWithBrowserOptions(
    const HYBInAppBrowserOptions& options, const ns::Dictionary& settings,
    const std::shared_ptr<wk::WebViewConfiguration>& hostConfiguration) {
    auto controller = std::make_shared<HYBWKInAppBrowserViewController>(options, settings);
    const auto& title = ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName");
    controller->uiDelegate_ = std::make_shared<HYBWKInAppBrowserUIDelegate>(
        title.string() ? *title.string() : std::string());
    controller->uiDelegate_->setViewController(controller);
    controller->createViews(hostConfiguration);
    return controller;
}

HYBWKInAppBrowserViewController::HYBWKInAppBrowserViewController(
    const HYBInAppBrowserOptions& options, ns::Dictionary settings)
    : browserOptions_(options), settings_(std::move(settings)) {}

void HYBWKInAppBrowserViewController::loadView() {
    setView(ui::View::create(ui::Screen::main().bounds()));
}

std::optional<std::string> HYBWKInAppBrowserViewController::settingForKey(
    const std::string& key) const {
    // Looked up in the held dictionary itself: a pointer into a temporary copy would dangle.
    const ns::Value* value = hybridSettingForKey(settings_, key);
    if (!value || value->isNull()) return std::nullopt;
    return value->stringValue();
}

// A toolbar action that reaches this controller only while it lives (a presenter may hold
// the toolbar's items longer).
template <class Fn>
ui::BarButtonItem::Action HYBWKInAppBrowserViewController::action(Fn fn) {
    std::weak_ptr<HYBWKInAppBrowserViewController> weakSelf =
        std::static_pointer_cast<HYBWKInAppBrowserViewController>(sharedController());
    return [weakSelf, fn] {
        if (auto self = weakSelf.lock()) fn(*self);
    };
}

void HYBWKInAppBrowserViewController::createViews(
    const std::shared_ptr<wk::WebViewConfiguration>& hostConfiguration) {
    auto root = view();
    const ui::Rect bounds = root->bounds();
    ui::Rect webFrame = bounds;
    webFrame.size.height -= browserOptions_.location ? kBarsHeight : kToolbarHeight;

    auto userContent = wk::UserContentController::create();
    configuration_ = wk::WebViewConfiguration::create();
    std::string appName = wk::WebViewConfiguration::kDefaultApplicationNameForUserAgent;
    const auto overrideAgent = settingForKey("OverrideUserAgent");
    const auto appendAgent = settingForKey("AppendUserAgent");
    if (!overrideAgent && appendAgent) appName = ns::format("%@ %@", appName, *appendAgent);
    configuration_->setApplicationNameForUserAgent(appName);
    configuration_->setUserContentController(userContent);
    configuration_->setProcessPool(
        HYBWebViewProcessPoolFactory::sharedFactory().sharedProcessPool());
    // The content controller holds its handlers strongly; a weak forwarder keeps it from
    // keeping this controller alive.
    userContent->addScriptMessageHandler(
        std::make_shared<HYBWebViewWeakScriptMessageHandler>(
            std::static_pointer_cast<HYBWKInAppBrowserViewController>(sharedController())),
        kMessageHandlerName);
    if (hostConfiguration) {
        for (const auto& scheme : hostConfiguration->urlSchemesWithHandlers()) {
            configuration_->setURLSchemeHandler(hostConfiguration->urlSchemeHandler(scheme),
                                                scheme);
        }
    }
    configuration_->setAllowsInlineMediaPlayback(browserOptions_.allowinlinemediaplayback);
    // Older systems know media playback only as all or nothing, and no viewport scale limits.
    if (!NSDK_TBXSystemVersion::isSystemVersionAtLeast("10.0")) {
        configuration_->setMediaPlaybackRequiresUserAction(
            browserOptions_.mediaplaybackrequiresuseraction);
    } else {
        configuration_->setIgnoresViewportScaleLimits(browserOptions_.enableviewportscale);
        configuration_->setMediaTypesRequiringUserActionForPlayback(
            browserOptions_.mediaplaybackrequiresuseraction ? wk::kAudiovisualMediaTypeAll
                                                            : wk::kAudiovisualMediaTypeNone);
    }
    // The page's content mode, on systems that have one: "mobile" or "desktop"; anything else
    // leaves the recommended mode.
    if (NSDK_TBXSystemVersion::isSystemVersionAtLeast("13.0")) {
        const auto mode = settingForKey("PreferredContentMode");
        if (mode == "mobile") {
            configuration_->defaultWebpagePreferences()->setPreferredContentMode(
                wk::WebpagePreferences::ContentMode::Mobile);
        } else if (mode == "desktop") {
            configuration_->defaultWebpagePreferences()->setPreferredContentMode(
                wk::WebpagePreferences::ContentMode::Desktop);
        }
    }

    makeWebView(webFrame);

    spinner_ = ui::ActivityIndicatorView::create(ui::ActivityIndicatorView::Style::Gray);
    spinner_->setFrame({webFrame.center(), {20, 20}});
    spinner_->setAutoresizingMask(
        ui::kAutoresizingFlexibleLeftMargin | ui::kAutoresizingFlexibleRightMargin |
        ui::kAutoresizingFlexibleTopMargin | ui::kAutoresizingFlexibleBottomMargin);
    spinner_->setHidesWhenStopped(true);
    spinner_->stopAnimating();

    closeButton_ = ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Done,
        action([](HYBWKInAppBrowserViewController& self) { self.close(); }));
    auto flexible =
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::FlexibleSpace, {});
    auto fixed = ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::FixedSpace, {});
    fixed->setWidth(20);

    const bool atTop = browserOptions_.toolbarposition == "top";
    const float toolbarY = atTop ? 0.0f : static_cast<float>(bounds.height() - kToolbarHeight);
    toolbar_ = ui::Toolbar::create({0, toolbarY, bounds.width(), kToolbarHeight});
    toolbar_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth |
                                  (atTop ? 0u : unsigned(ui::kAutoresizingFlexibleTopMargin)));
    toolbar_->setBarStyle(ui::Toolbar::BarStyle::Black);
    if (browserOptions_.toolbarcolor) {
        toolbar_->setBarTintColor(colorFromHexString(*browserOptions_.toolbarcolor));
    }
    if (!browserOptions_.toolbartranslucent) toolbar_->setTranslucent(false);

    const float labelY = static_cast<float>(atTop ? bounds.height() - kLocationBarHeight
                                                  : bounds.height() - kBarsHeight);
    addressLabel_ = ui::Label::create({5, labelY, bounds.width() - 5, kLocationBarHeight});
    addressLabel_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth |
                                       ui::kAutoresizingFlexibleRightMargin |
                                       ui::kAutoresizingFlexibleTopMargin);
    addressLabel_->setNumberOfLines(1);
    addressLabel_->setText(ns::localizedString("Loading..."));
    addressLabel_->setTextColor(ui::Color::whiteColor());

    forwardButton_ =
        ui::BarButtonItem::withTitle(ns::localizedString("►"), ui::BarButtonItem::Style::Plain,
                                     action([](HYBWKInAppBrowserViewController& self) {
                                         if (self.webView_) self.webView_->goForward();
                                     }));
    backButton_ =
        ui::BarButtonItem::withTitle(ns::localizedString("◄"), ui::BarButtonItem::Style::Plain,
                                     action([](HYBWKInAppBrowserViewController& self) {
                                         if (self.webView_) self.webView_->goBack();
                                     }));
    if (browserOptions_.navigationbuttoncolor) {
        const auto tint = colorFromHexString(*browserOptions_.navigationbuttoncolor);
        forwardButton_->setTintColor(tint);
        backButton_->setTintColor(tint);
    }

    const bool ltr = browserOptions_.lefttoright;
    if (browserOptions_.hidenavigationbuttons) {
        toolbar_->setItems(ltr ? std::vector{flexible, closeButton_}
                               : std::vector{closeButton_, flexible});
    } else {
        toolbar_->setItems(
            ltr ? std::vector{backButton_, fixed, forwardButton_, flexible, closeButton_}
                : std::vector{closeButton_, flexible, backButton_, fixed, forwardButton_});
    }

    root->setBackgroundColor(ui::Color(0, 0, 0, 0));
    root->addSubview(toolbar_);
    root->addSubview(addressLabel_);
    root->addSubview(spinner_);
}

void HYBWKInAppBrowserViewController::makeWebView(const ui::Rect& frame) {
    webView_ = wk::WebView::create(frame, configuration_);
    view()->insertSubview(webView_, 0);
    auto self = std::static_pointer_cast<HYBWKInAppBrowserViewController>(sharedController());
    webView_->setNavigationDelegate(self);
    webView_->setUIDelegate(uiDelegate_);
    webView_->setBackgroundColor(ui::Color::whiteColor());
    webView_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    if (auto overrideAgent = settingForKey("OverrideUserAgent")) {
        webView_->setCustomUserAgent(*overrideAgent);
    }
    webView_->setAllowsLinkPreview(false);
    webView_->setAllowsBackForwardNavigationGestures(false);
}

void HYBWKInAppBrowserViewController::recreateWebView() {
    auto old = std::exchange(webView_, nullptr);
    if (!old) return;
    old->stopLoading();
    old->removeFromSuperview();
    old->setNavigationDelegate({});
    old->setUIDelegate({});
    currentURL_.reset();
    makeWebView(old->frame());
    webView_->scrollView()->setBounces(old->scrollView()->bounces());
    updateButtons();
}

void HYBWKInAppBrowserViewController::setCloseButtonTitle(
    const std::optional<std::string>& title, const std::optional<std::string>& colorString,
    size_t index) {
    auto items = toolbar_->items();
    std::erase(items, closeButton_);
    closeButton_ = title ? ui::BarButtonItem::withTitle(
                               *title, ui::BarButtonItem::Style::Bordered,
                               action([](HYBWKInAppBrowserViewController& self) { self.close(); }))
                         : ui::BarButtonItem::withSystemItem(
                               ui::BarButtonItem::SystemItem::Done,
                               action([](HYBWKInAppBrowserViewController& self) { self.close(); }));
    closeButton_->setEnabled(true);
    closeButton_->setTintColor(colorString ? colorFromHexString(*colorString)
                                           : ui::Color(60 / 255.0, 136 / 255.0, 230 / 255.0, 1));
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(std::min(index, items.size())),
                 closeButton_);
    toolbar_->setItems(std::move(items));
}

ui::Color HYBWKInAppBrowserViewController::colorFromHexString(const std::string& hex) {
    return ui::Color::fromHexString(hex);
}

void HYBWKInAppBrowserViewController::showLocationBar(bool show) {
    if (show == !addressLabel_->isHidden()) return;
    const ui::Rect bounds = view()->bounds();
    ui::Rect label = addressLabel_->frame();
    ui::Rect web = bounds;
    if (show) {
        addressLabel_->setHidden(false);
        web.size.height -= toolbar_->isHidden() ? kLocationBarHeight : kBarsHeight;
        label.origin.y = web.height();
        addressLabel_->setFrame(label);
    } else {
        addressLabel_->setHidden(true);
        if (!toolbar_->isHidden()) web.size.height -= kToolbarHeight;
    }
    webView_->setFrame(web);
}

void HYBWKInAppBrowserViewController::showToolBar(bool show, const std::string& position) {
    if (show == !toolbar_->isHidden()) return;
    const ui::Rect bounds = view()->bounds();
    ui::Rect label = addressLabel_->frame();
    ui::Rect web = bounds;
    if (show) {
        toolbar_->setHidden(false);
        if (!addressLabel_->isHidden()) {
            web.size.height -= kBarsHeight;
            label.origin.y = web.height();
            addressLabel_->setFrame(label);
        } else {
            web.size.height -= kToolbarHeight;
        }
        if (position == "top") web.origin.y += toolbar_->frame().height();
    } else {
        toolbar_->setHidden(true);
        if (!addressLabel_->isHidden()) {
            web.size.height -= kLocationBarHeight;
            label.origin.y = web.height();
            addressLabel_->setFrame(label);
        }
    }
    webView_->setFrame(web);
}

double HYBWKInAppBrowserViewController::getStatusBarOffset() const {
    if (!NSDK_TBXSystemVersion::isSystemVersionAtLeast("7.0")) return 0;
    return static_cast<float>(ui::StatusBar::shared().frame().height());
}

void HYBWKInAppBrowserViewController::setWebViewFrame(const ui::Rect& frame) {
    ns::Log::write(ns::LogLevel::Default, kLogSubsystem, "",
                   ns::format("Setting the WebView's frame to %@", ui::toString(frame)));
    webView_->setFrame(frame);
}

void HYBWKInAppBrowserViewController::rePositionViews() {
    if (!webView_) return;
    const ui::Rect bounds = webView_->bounds();
    const double offset = getStatusBarOffset();
    // What the last call took off for the status bar is given back first, so that calls with
    // an unchanged status bar leave the height as it is.
    const double height = bounds.height() - offset + lastStatusBarOffset_;
    lastStatusBarOffset_ = offset;
    double y = offset;
    if (browserOptions_.toolbar && browserOptions_.toolbarposition == "top") {
        y += kToolbarHeight;
        ui::Rect bar = toolbar_->frame();
        bar.origin.y = offset;
        toolbar_->setFrame(bar);
    }
    setWebViewFrame({bounds.x(), y, bounds.width(), height});
}

void HYBWKInAppBrowserViewController::viewWillAppear(bool animated) {
    rePositionViews();
    ui::ViewController::viewWillAppear(animated);
}

void HYBWKInAppBrowserViewController::viewWillTransitionToSize(
    ui::Size size, ui::TransitionCoordinator& coordinator) {
    std::weak_ptr<HYBWKInAppBrowserViewController> weakSelf =
        std::static_pointer_cast<HYBWKInAppBrowserViewController>(sharedController());
    coordinator.animateAlongsideTransition(
        [weakSelf] {
            if (auto self = weakSelf.lock()) self->rePositionViews();
        },
        [] {});
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
}

void HYBWKInAppBrowserViewController::navigateTo(const ns::URL& url) {
    if (url.isFileURL()) {
        webView_->loadFileURL(url, url);
    } else {
        webView_->loadRequest(wk::URLRequest(url));
    }
}

void HYBWKInAppBrowserViewController::close() {
    currentURL_.reset();
    // Every way of closing ends in one exit: a second close while the first is under way
    // adds nothing.
    if (closing_) return;
    closing_ = true;
    std::weak_ptr<HYBWKInAppBrowserViewController> weakSelf =
        std::static_pointer_cast<HYBWKInAppBrowserViewController>(sharedController());
    dispatch::Queue::main().async([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->exitPending_ = true;
        lastStatusBarOffset_ = 0;
        auto presenter = self->presentingViewController();
        if (!presenter) presenter = self->parentViewController();
        if (presenter) {
            presenter->dismissViewController(true);
        } else {
            // A hidden browser is on no screen: no disappearance will come, so this is its exit.
            self->viewDidDisappear(false);
        }
    });
}

void HYBWKInAppBrowserViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (!exitPending_) return;
    if (auto delegate = navigationDelegate()) {
        exitPending_ = false;
        delegate->browserExit();
    }
}

bool HYBWKInAppBrowserViewController::shouldAutorotate() const {
    if (auto delegate = orientationDelegate()) return delegate->shouldAutorotate();
    return true;
}

ui::InterfaceOrientationMask HYBWKInAppBrowserViewController::supportedInterfaceOrientations()
    const {
    if (auto delegate = orientationDelegate()) return delegate->supportedInterfaceOrientations();
    return ui::kInterfaceOrientationMaskPortrait;
}

ui::StatusBar::Style HYBWKInAppBrowserViewController::preferredStatusBarStyle() const {
    const auto style = settingForKey("InAppBrowserStatusBarStyle");
    if (style == "lightcontent") return ui::StatusBar::Style::LightContent;
    // Systems before 13.0 have no dark content style: their default is dark text.
    if (style == "darkcontent" && NSDK_TBXSystemVersion::isSystemVersionAtLeast("13.0")) {
        return ui::StatusBar::Style::DarkContent;
    }
    return ui::StatusBar::Style::Default;
}

void HYBWKInAppBrowserViewController::updateButtons() {
    backButton_->setEnabled(webView_->canGoBack());
    forwardButton_->setEnabled(webView_->canGoForward());
}

void HYBWKInAppBrowserViewController::decidePolicyForNavigationAction(
    const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
    std::function<void(wk::NavigationActionPolicy)> decisionHandler) {
    if (action.request.url() == action.request.mainDocumentURL()) {
        currentURL_ = action.request.url();
    }
    if (auto delegate = navigationDelegate()) {
        delegate->decidePolicyForNavigationAction(webView, action, std::move(decisionHandler));
    } else {
        decisionHandler(wk::NavigationActionPolicy::Allow);
    }
}

void HYBWKInAppBrowserViewController::decidePolicyForNavigationResponse(
    const std::shared_ptr<wk::WebView>& webView, const wk::NavigationResponse& response,
    std::function<void(wk::NavigationResponsePolicy)> decisionHandler) {
    if (auto delegate = navigationDelegate()) {
        delegate->decidePolicyForNavigationResponse(webView, response, std::move(decisionHandler));
    } else {
        decisionHandler(wk::NavigationResponsePolicy::Allow);
    }
}

void HYBWKInAppBrowserViewController::didStartProvisionalNavigation(
    const std::shared_ptr<wk::WebView>& webView, const std::shared_ptr<wk::Navigation>&) {
    addressLabel_->setText(ns::localizedString("Loading..."));
    updateButtons();
    // Whether the spinner is kept still (the option hidespinner).
    ns::Log::write(ns::LogLevel::Default, kLogSubsystem, "hidespinner",
                   browserOptions_.hidespinner ? "Yes" : "No");
    if (!browserOptions_.hidespinner) spinner_->startAnimating();
    if (auto delegate = navigationDelegate()) delegate->didStartProvisionalNavigation(webView);
}

void HYBWKInAppBrowserViewController::didFinishNavigation(
    const std::shared_ptr<wk::WebView>& webView, const std::shared_ptr<wk::Navigation>&) {
    addressLabel_->setText(currentURL_ ? currentURL_->absoluteString() : std::string());
    updateButtons();
    spinner_->stopAnimating();
    if (auto delegate = navigationDelegate()) delegate->didFinishNavigation(webView);
}

void HYBWKInAppBrowserViewController::failed(const char* kind,
                                             const std::shared_ptr<wk::WebView>& webView,
                                             const ns::Error& error) {
    ns::nslog("webView:%@ - %ld: %@", kind, static_cast<long>(error.code()),
              error.localizedDescription());
    updateButtons();
    spinner_->stopAnimating();
    addressLabel_->setText(ns::localizedString("Load Error"));
    if (auto delegate = navigationDelegate()) delegate->didFailNavigation(webView, error);
}

void HYBWKInAppBrowserViewController::didFailProvisionalNavigation(
    const std::shared_ptr<wk::WebView>& webView, const std::shared_ptr<wk::Navigation>&,
    const ns::Error& error) {
    failed("didFailProvisionalNavigation", webView, error);
}

void HYBWKInAppBrowserViewController::didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                                                        const std::shared_ptr<wk::Navigation>&,
                                                        const ns::Error& error) {
    failed("didFailNavigation", webView, error);
}

void HYBWKInAppBrowserViewController::didReceiveScriptMessage(wk::UserContentController&,
                                                              const wk::ScriptMessage& message) {
    if (message.name != kMessageHandlerName) return;
    if (auto delegate = navigationDelegate()) delegate->didReceiveScriptMessage(message);
}
