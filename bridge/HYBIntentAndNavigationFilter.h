#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBWhitelist.h"
#include "bridge/HYBXMLParserDelegate.h"
#include "platform/wk/NavigationAction.h"
#include "platform/wk/URLRequest.h"

// How a URL fares against the two lists of config.xml.
enum HYBFilterValue : int {
    HYBFilterValueIntentAllowed = 0,      // only <allow-intent> admits it: open it outside
    HYBFilterValueNavigationAllowed = 1,  // <allow-navigation> admits it: load it
    HYBFilterValueNoneAllowed = 2,
};

// Decides every navigation of the main web view from the <allow-navigation> and
// <allow-intent> elements of config.xml: load it, hand it to the system to open outside the
// application, or refuse it. Besides what <allow-navigation> names, file URLs and the
// application's own scheme are navigable. When config.xml cannot be read (or does not parse)
// the lists stay unset and nothing is admitted.
class HYBIntentAndNavigationFilter : public HYBPlugin, public HYBXMLParserDelegate {
public:
    // Reads config.xml again for this plug-in's two elements.
    void pluginInitialize() override;

    // --- config.xml --------------------------------------------------------------------------
    void parserDidStartDocument() override;
    void didStartElement(std::string_view elementName, const Attributes& attributes) override;
    void parserDidEndDocument() override;
    // What was read before the error stands, with the local defaults, so that a damaged file
    // still admits the application's own pages.
    void parseErrorOccurred(const std::string& description) override;

    // --- Decisions ----------------------------------------------------------------------------
    // A null list admits nothing.
    static HYBFilterValue filterUrl(const ns::URL& url, const HYBWhitelist* intentsWhitelist,
                                    const HYBWhitelist* navigationsWhitelist);
    HYBFilterValue filterUrl(const ns::URL& url) const;
    // A user's tap, or the top-level document itself being replaced by script or redirect.
    static bool shouldOpenURLRequest(const wk::URLRequest& request, wk::NavigationType type);
    // True lets the web view load; an intent is handed to the system and answers false.
    static bool shouldOverrideLoadWithRequest(const wk::URLRequest& request,
                                              wk::NavigationType type, HYBFilterValue filterValue);

    bool answersShouldOverrideLoad() const override { return true; }
    bool shouldOverrideLoadWithRequest(const wk::URLRequest& request,
                                       wk::NavigationType navigationType) override;

    const std::vector<std::string>& allowIntents() const { return allowIntents_; }
    const std::vector<std::string>& allowNavigations() const { return allowNavigations_; }
    const std::shared_ptr<HYBWhitelist>& allowIntentsWhitelist() const {
        return allowIntentsWhitelist_;
    }
    const std::shared_ptr<HYBWhitelist>& allowNavigationsWhitelist() const {
        return allowNavigationsWhitelist_;
    }

private:
    std::vector<std::string> allowIntents_;
    std::vector<std::string> allowNavigations_;
    std::shared_ptr<HYBWhitelist> allowIntentsWhitelist_;
    std::shared_ptr<HYBWhitelist> allowNavigationsWhitelist_;
};
