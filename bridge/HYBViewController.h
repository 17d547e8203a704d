#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBPageSink.h"
#include "bridge/HYBPluginDirectory.h"
#include "bridge/HYBScreenOrientationDelegate.h"
#include "bridge/HYBXMLParserDelegate.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/Color.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace ns {
struct Notification;
}  // namespace ns
namespace wk {
class WebView;
}  // namespace wk

class HYBCommandDelegate;
class HYBCommandDelegateImpl;
class HYBCommandQueue;
class HYBPlugin;
class HYBWebViewEngineProtocol;
class HYBXMLParser;

// Names of the view life-cycle notifications the controller posts (the texts are the names).
inline constexpr const char* HYBViewWillAppearNotification = "HYBViewWillAppearNotification";
inline constexpr const char* HYBViewDidAppearNotification = "HYBViewDidAppearNotification";
inline constexpr const char* HYBViewWillDisappearNotification = "HYBViewWillDisappearNotification";
inline constexpr const char* HYBViewDidDisappearNotification = "HYBViewDidDisappearNotification";
inline constexpr const char* HYBViewWillLayoutSubviewsNotification =
    "HYBViewWillLayoutSubviewsNotification";
inline constexpr const char* HYBViewDidLayoutSubviewsNotification =
    "HYBViewDidLayoutSubviewsNotification";
inline constexpr const char* HYBViewWillTransitionToSizeNotification =
    "HYBViewWillTransitionToSizeNotification";

// The application's root screen and the owner of the hybrid runtime: reads config.xml, builds
// the launch view and the web view engine, makes plug-ins (at start or on first use) and keeps
// them, loads the start page, turns application life-cycle notifications into page events and
// empties the temporary folder when the application terminates. It is the plug-in directory
// of its command queue and delegate, and their page: its engine evaluates, its delegate
// answers. Main thread only.
class HYBViewController : public ui::ViewController,
                          public HYBScreenOrientationDelegate,
                          public HYBPluginDirectory,
                          public HYBPageSink {
public:
    using PluginObjects = std::map<std::string, std::shared_ptr<HYBPlugin>, std::less<>>;
    using PluginsMap = std::map<std::string, std::string, std::less<>>;

    HYBViewController();
    ~HYBViewController() override;

    // Makes a controller and runs its shared set-up (command queue, then command delegate,
    // application observers, supported orientations, start-up log lines).
    template <class T = HYBViewController>
    static std::shared_ptr<T> create() {
        auto controller = std::make_shared<T>();
        controller->initialize();
        return controller;
    }
    // The shared set-up; runs once, later calls do nothing.
    void initialize();
    bool initialized() const { return initialized_; }

    // --- Configuration ---------------------------------------------------------------------
    // `configFile` (default "config.xml") as an absolute path, or as a resource of the main
    // bundle; nothing when no file is there.
    std::optional<std::string> configFilePath() const;
    // Parses the configuration file with the delegate; false when the file cannot be read.
    // A file that cannot be read in full is logged once, however many readers parse it.
    bool parseSettingsWithParser(HYBXMLParserDelegate& delegate);
    void loadSettings();

    // --- Start page --------------------------------------------------------------------------
    std::optional<ns::URL> appUrl();
    std::optional<ns::URL> errorURL();

    // --- Views -------------------------------------------------------------------------------
    void viewDidLoad() override;
    void createLaunchView();
    void createGapView();
    std::shared_ptr<wk::WebView> newHybridViewWithFrame(const ui::Rect& bounds);
    // Fades the launch view in or out over max(FadeSplashScreenDuration, 250) ms.
    void showLaunchScreen(bool visible);
    // The fade length that showLaunchScreen uses, in seconds.
    double launchScreenFadeDuration() const;
    std::shared_ptr<wk::WebView> webView() const;

    // --- Plug-ins -----------------------------------------------------------------------------
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view pluginName) override;
    // A file of the web folder (wwwFolderName, "www" by default), by its path in it.
    std::optional<std::string> pathForResource(std::string_view resourcepath) override;
    void registerPlugin(const std::shared_ptr<HYBPlugin>& plugin, const std::string& className);
    void registerPluginWithPluginName(const std::shared_ptr<HYBPlugin>& plugin,
                                      std::string_view pluginName);

    // --- Application events --------------------------------------------------------------
    void onAppWillTerminate(const ns::Notification& notification);
    void onAppWillResignActive(const ns::Notification& notification);
    void onAppWillEnterForeground(const ns::Notification& notification);
    void onAppDidBecomeActive(const ns::Notification& notification);
    void onAppDidEnterBackground(const ns::Notification& notification);
    void onWebViewPageDidLoad(const ns::Notification& notification);
    void onWebViewPageReset(const ns::Notification& notification);
    static bool isUrlEmpty(const std::optional<ns::URL>& url);
    bool checkAndReinitViewUrl();

    // --- View events ------------------------------------------------------------------------
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillLayoutSubviews() override;
    void viewDidLayoutSubviews() override;
    void viewWillTransitionToSize(ui::Size size, ui::TransitionCoordinator& coordinator) override;
    void didReceiveMemoryWarning() override;

    // --- Orientation -------------------------------------------------------------------------
    // Orientation names to numbers (1 portrait, 2 upside down, 3 landscape right, 4 landscape
    // left); unknown names are skipped and an empty result is [1].
    static std::vector<int> parseInterfaceOrientations(const ns::Value& orientations);
    bool supportsOrientation(int orientation) const;
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
    bool shouldAutorotate() const override { return true; }

    // --- Other --------------------------------------------------------------------------------
    static std::optional<ui::Color> colorFromColorString(const std::optional<std::string>& text);
    static std::optional<std::string> appURLScheme();
    void printVersion() const;
    void printMultitaskingInfo() const;
    void printPlatformVersionWarning() const;

    // --- State ---------------------------------------------------------------------------------
    std::shared_ptr<HYBWebViewEngineProtocol> webViewEngine() const { return webViewEngine_; }
    void setWebViewEngine(std::shared_ptr<HYBWebViewEngineProtocol> engine) {
        webViewEngine_ = std::move(engine);
    }
    std::shared_ptr<HYBCommandDelegate> commandDelegate() const;
    std::shared_ptr<HYBCommandQueue> commandQueue() const { return commandQueue_; }
    const std::vector<int>& supportedOrientations() const { return supportedOrientations_; }
    void setSupportedOrientations(std::vector<int> orientations) {
        supportedOrientations_ = std::move(orientations);
    }
    const PluginObjects& pluginObjects() const { return pluginObjects_; }
    const PluginsMap& pluginsMap() const { return pluginsMap_; }
    const std::vector<std::string>& startupPluginNames() const { return startupPluginNames_; }
    const std::shared_ptr<HYBXMLParser>& configParser() const { return configParser_; }
    // A copy: plug-ins may read the settings from any thread.
    ns::Dictionary settings() const override;
    void setSettings(ns::Dictionary settings);
    const std::optional<std::string>& wwwFolderName() const { return wwwFolderName_; }
    void setWwwFolderName(std::optional<std::string> name) { wwwFolderName_ = std::move(name); }
    const std::optional<std::string>& startPage() const { return startPage_; }
    void setStartPage(std::optional<std::string> page) { startPage_ = std::move(page); }
    std::optional<ns::URL> openURL() const;
    void setOpenURL(std::optional<ns::URL> url);
    const std::shared_ptr<ui::View>& launchView() const { return launchView_; }
    // Loads the start page, or, when it is missing, the error page or a message.
    void loadStartPage();

    // The status bar answers that the status bar plug-in sets (nothing until it does): hidden
    // or not, and the style. Every controller of this class gives them to the platform.
    std::optional<bool> sb_hideStatusBar() const { return sbHideStatusBar_; }
    void setSb_hideStatusBar(std::optional<bool> hide) { sbHideStatusBar_ = hide; }
    std::optional<ui::StatusBar::Style> sb_statusBarStyle() const { return sbStatusBarStyle_; }
    void setSb_statusBarStyle(std::optional<ui::StatusBar::Style> style) {
        sbStatusBarStyle_ = style;
    }
    bool prefersStatusBarHidden() const override { return sbHideStatusBar_.value_or(false); }
    ui::StatusBar::Style preferredStatusBarStyle() const override {
        return sbStatusBarStyle_.value_or(ui::StatusBar::Style::Default);
    }
    const std::optional<std::string>& appScheme() const { return appScheme_; }
    void setAppScheme(std::optional<std::string> scheme) { appScheme_ = std::move(scheme); }
    const std::optional<std::string>& configFile() const { return configFile_; }
    void setConfigFile(std::optional<std::string> file) { configFile_ = std::move(file); }

    // --- The page, for the command queue and delegate ---------------------------------------
    void evaluateJavaScript(std::string script, EvaluationHandler completion) override;
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler completion) override;
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;

private:
    void observeApplication();
    void normaliseBackupWebStorage();
    void createStartupPlugins();
    void loadErrorForMissingStartPage();
    std::shared_ptr<HYBWebViewEngineProtocol> makeEngine(const ui::Rect& frame);
    std::shared_ptr<HYBPlugin> makePlugin(const std::string& className);
    void sendPageEvent(const char* script, bool scheduled);
    void emptyTemporaryDirectory() const;
    void postViewNotification(const char* name) const;

    std::shared_ptr<HYBWebViewEngineProtocol> webViewEngine_;
    std::shared_ptr<HYBCommandDelegateImpl> commandDelegate_;
    std::shared_ptr<HYBCommandQueue> commandQueue_;
    // Whether the main web view's page has loaded (and with it the page's bridge script); until
    // then the page has no one to take its life-cycle events.
    bool pageLoaded_ = false;
    std::optional<bool> sbHideStatusBar_;
    std::optional<ui::StatusBar::Style> sbStatusBarStyle_;
    bool initialized_ = false;
    std::vector<int> supportedOrientations_;
    PluginObjects pluginObjects_;
    PluginsMap pluginsMap_;
    std::vector<std::string> startupPluginNames_;
    std::shared_ptr<HYBXMLParser> configParser_;
    // The last problem of the configuration file that was logged (its line), so that the
    // controller and the plug-ins that read the file too do not each log it again.
    std::optional<std::string> loggedConfigProblem_;
    mutable dispatch::Mutex settingsMutex_;
    ns::Dictionary settings_ GUARDED_BY(settingsMutex_);
    std::optional<std::string> wwwFolderName_;
    std::optional<std::string> startPage_;
    mutable dispatch::Mutex openURLMutex_;
    std::optional<ns::URL> openURL_ GUARDED_BY(openURLMutex_);
    std::shared_ptr<ui::View> launchView_;
    std::optional<std::string> appScheme_;
    std::optional<std::string> configFile_;
    std::vector<std::shared_ptr<ns::Object>> observers_;
};
