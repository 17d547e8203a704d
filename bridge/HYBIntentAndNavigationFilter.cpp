#include "bridge/HYBIntentAndNavigationFilter.h"

#include "bridge/HYBViewController.h"
#include "platform/ns/Log.h"
#include "platform/ui/Application.h"

void HYBIntentAndNavigationFilter::pluginInitialize() {
    if (auto controller = viewController()) controller->parseSettingsWithParser(*this);
}

void HYBIntentAndNavigationFilter::parserDidStartDocument() {
    allowNavigations_ = {"file://"};
    if (auto controller = viewController(); controller && controller->appScheme()) {
        allowNavigations_.push_back(*controller->appScheme() + "://");
    }
    allowIntents_.clear();
}

void HYBIntentAndNavigationFilter::didStartElement(std::string_view elementName,
                                                   const Attributes& attributes) {
    std::vector<std::string>* list = elementName == "allow-navigation" ? &allowNavigations_
                                     : elementName == "allow-intent"   ? &allowIntents_
                                                                       : nullptr;
    if (!list) return;
    if (const auto href = attributes.find("href")) list->emplace_back(*href);
}

void HYBIntentAndNavigationFilter::parserDidEndDocument() {
    allowIntentsWhitelist_ = std::make_shared<HYBWhitelist>(allowIntents_);
    allowNavigationsWhitelist_ = std::make_shared<HYBWhitelist>(allowNavigations_);
}

void HYBIntentAndNavigationFilter::parseErrorOccurred(const std::string& /*description*/) {
    parserDidEndDocument();
}

HYBFilterValue HYBIntentAndNavigationFilter::filterUrl(const ns::URL& url,
                                                       const HYBWhitelist* intentsWhitelist,
                                                       const HYBWhitelist* navigationsWhitelist) {
    if (navigationsWhitelist && navigationsWhitelist->URLIsAllowed(url, false)) {
        return HYBFilterValueNavigationAllowed;
    }
    if (intentsWhitelist && intentsWhitelist->URLIsAllowed(url, false)) {
        return HYBFilterValueIntentAllowed;
    }
    return HYBFilterValueNoneAllowed;
}

HYBFilterValue HYBIntentAndNavigationFilter::filterUrl(const ns::URL& url) const {
    return filterUrl(url, allowIntentsWhitelist_.get(), allowNavigationsWhitelist_.get());
}

bool HYBIntentAndNavigationFilter::shouldOpenURLRequest(const wk::URLRequest& request,
                                                        wk::NavigationType type) {
    if (type == wk::NavigationType::LinkActivated) return true;
    if (type != wk::NavigationType::Other) return false;
    const auto& mainDocument = request.mainDocumentURL();
    return mainDocument && mainDocument->absoluteString() == request.url().absoluteString();
}

bool HYBIntentAndNavigationFilter::shouldOverrideLoadWithRequest(const wk::URLRequest& request,
                                                                 wk::NavigationType type,
                                                                 HYBFilterValue filterValue) {
    switch (filterValue) {
        case HYBFilterValueNavigationAllowed:
            return true;
        case HYBFilterValueIntentAllowed:
            if (shouldOpenURLRequest(request, type))
                ui::Application::shared().openURL(request.url());
            return false;
        case HYBFilterValueNoneAllowed:
            break;
    }
    const std::string& url = request.url().absoluteString();
    ns::nslog("ERROR Internal navigation rejected - <allow-navigation> not set for url='%@'", url);
    if (type == wk::NavigationType::LinkActivated) {
        ns::nslog("ERROR External navigation rejected - <allow-intent> not set for url='%@'", url);
    }
    return false;
}

bool HYBIntentAndNavigationFilter::shouldOverrideLoadWithRequest(
    const wk::URLRequest& request, wk::NavigationType navigationType) {
    return shouldOverrideLoadWithRequest(request, navigationType, filterUrl(request.url()));
}
