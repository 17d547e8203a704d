#include "bridge/HYBViewController.h"

#include <cmath>
#include <regex>

#include "bridge/HYBCommandDelegateImpl.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBConfigParser.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBTimer.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/HYBXMLParser.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/Storyboard.h"
#include "platform/wk/URLRequest.h"
#include "platform/wk/WebView.h"

namespace {

constexpr const char* kDefaultEngineClass = "HYBWebViewEngine";
constexpr double kStartPageTimeout = 20.0;
// Splash timings longer than this (in milliseconds) are taken for a mistake in config.xml.
constexpr double kLongestSplashTiming = 600000;
constexpr double kDefaultFadeDuration = 250;

constexpr const char* kPauseScript = "hybrid.fireDocumentEvent('pause', null, true);";
constexpr const char* kResumeScript = "hybrid.fireDocumentEvent('resume');";
constexpr const char* kResignScript = "hybrid.fireDocumentEvent('resign');";
constexpr const char* kActiveScript = "hybrid.fireDocumentEvent('active');";

// A copy: the host may replace the main bundle, and with it the dictionary.
ns::Dictionary infoDictionary() {
    return ns::Bundle::mainBundle()->infoDictionary();
}

// The dotted version compared numerically, component by component (missing ones count as 0).
bool versionIsBelow(const std::string& version, const std::string& than) {
    auto components = [](const std::string& text) {
        std::vector<long> parts;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('.', start);
            if (end == std::string::npos) end = text.size();
            parts.push_back(std::strtol(text.substr(start, end - start).c_str(), nullptr, 10));
            start = end + 1;
        }
        return parts;
    };
    std::vector<long> a = components(version);
    std::vector<long> b = components(than);
    a.resize(std::max(a.size(), b.size()));
    b.resize(a.size());
    return a < b;
}

// A splash timing from config.xml, or the default when it is not a sensible number.
double sanitisedSplashTiming(double milliseconds, double fallback) {
    if (!std::isfinite(milliseconds) || milliseconds < 0 || milliseconds > kLongestSplashTiming) {
        return fallback;
    }
    return milliseconds;
}

std::string htmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool contains(const std::optional<std::string>& text, std::string_view part) {
    return text && text->find(part) != std::string::npos;
}

}  // namespace

HYBViewController::HYBViewController() = default;

HYBViewController::~HYBViewController() {
    ns::NotificationCenter::defaultCenter().removeObserver(this);
    // Its page goes: producers of answers in pieces still running for it stop.
    if (commandDelegate_) commandDelegate_->endAnswersInPieces();
    if (commandQueue_) commandQueue_->dispose();
    for (const auto& [name, plugin] : pluginObjects_) plugin->dispose();
    std::shared_ptr<wk::WebView> webView;
    if (webViewEngine_) {
        webView = webViewEngine_->engineWebView();
        webViewEngine_->loadHTMLString("about:blank", std::nullopt);
    }
    pluginObjects_.clear();
    if (webView) webView->removeFromSuperview();
    webViewEngine_.reset();
}

std::shared_ptr<HYBCommandDelegate> HYBViewController::commandDelegate() const {
    return commandDelegate_;
}

void HYBViewController::initialize() {
    if (initialized_) return;
    auto self = sharedSelf<HYBViewController>();
    // The delegate takes the queue when it is made, so the queue comes first.
    commandQueue_ = std::make_shared<HYBCommandQueue>(self, self);
    commandDelegate_ = std::make_shared<HYBCommandDelegateImpl>(self, self, commandQueue_);
    observeApplication();
    const ns::Dictionary info = infoDictionary();
    auto orientations = info.find("UISupportedInterfaceOrientations");
    supportedOrientations_ =
        parseInterfaceOrientations(orientations == info.end() ? ns::Value() : orientations->second);
    printVersion();
    printMultitaskingInfo();
    printPlatformVersionWarning();
    initialized_ = true;
}

void HYBViewController::observeApplication() {
    auto& center = ns::NotificationCenter::defaultCenter();
    std::weak_ptr<HYBViewController> weakSelf = sharedSelf<HYBViewController>();
    auto forward = [&](const char* name,
                       void (HYBViewController::*handler)(const ns::Notification&)) {
        center.addObserver(this, name, nullptr,
                           [weakSelf, handler](const ns::Notification& notification) {
                               if (auto self = weakSelf.lock()) ((*self).*handler)(notification);
                           });
    };
    forward(ui::kApplicationWillTerminateNotification, &HYBViewController::onAppWillTerminate);
    forward(ui::kApplicationWillResignActiveNotification,
            &HYBViewController::onAppWillResignActive);
    forward(ui::kApplicationDidBecomeActiveNotification, &HYBViewController::onAppDidBecomeActive);
    forward(ui::kApplicationWillEnterForegroundNotification,
            &HYBViewController::onAppWillEnterForeground);
    forward(ui::kApplicationDidEnterBackgroundNotification,
            &HYBViewController::onAppDidEnterBackground);
    forward(HYBPageDidLoadNotification, &HYBViewController::onWebViewPageDidLoad);
    forward(HYBPluginResetNotification, &HYBViewController::onWebViewPageReset);
}

// --- Configuration -----------------------------------------------------------------------------

std::optional<std::string> HYBViewController::configFilePath() const {
    const std::string name = configFile_.value_or("config.xml");
    if (!name.empty() && name.front() == '/') {
        if (ns::FileManager::defaultManager().fileExists(name)) return name;
        return std::nullopt;
    }
    return ns::Bundle::mainBundle()->pathForResource(name, "");
}

bool HYBViewController::parseSettingsWithParser(HYBXMLParserDelegate& delegate) {
    std::optional<std::string> path = configFilePath();
    configParser_ = path ? HYBXMLParser::parserWithContentsOfFile(*path) : nullptr;
    if (!configParser_) {
        ns::nslog("Failed to initialize XML parser.");
        return false;
    }
    configParser_->setDelegate(&delegate);
    if (!configParser_->parse()) {
        // Where, in the file:line:col form of the host's other configuration errors, and what
        // the mistake cost: nothing when it follows the document element.
        const char* cost = configParser_->readDocumentElement()
                               ? "ignored: the document element was read in full"
                               : "the file could not be read in full";
        std::string problem =
            ns::format("ERROR: %@:%zu:%zu: %@ (%s)", *path, configParser_->lineNumber(),
                       configParser_->columnNumber(), configParser_->errorCause(), cost);
        if (problem != loggedConfigProblem_) {
            ns::Log::write(ns::LogLevel::Default, problem);
            loggedConfigProblem_ = std::move(problem);
        }
    }
    configParser_->setDelegate(nullptr);
    return true;
}

void HYBViewController::loadSettings() {
    dispatch::RunLoop::requireMainThread("HYBViewController::loadSettings");
    HYBConfigParser delegate;
    parseSettingsWithParser(delegate);
    pluginsMap_ = delegate.pluginsDict();
    startupPluginNames_ = delegate.startupPluginNames();
    setSettings(delegate.settings());
    if (!wwwFolderName_) wwwFolderName_ = "www";
    if (delegate.startPage() && !startPage_) startPage_ = delegate.startPage();
    if (!startPage_) startPage_ = "index.html";
    pluginObjects_.clear();
}

ns::Dictionary HYBViewController::settings() const {
    dispatch::Lock lock(settingsMutex_);
    return settings_;
}

void HYBViewController::setSettings(ns::Dictionary settings) {
    dispatch::Lock lock(settingsMutex_);
    settings_ = std::move(settings);
}

void HYBViewController::normaliseBackupWebStorage() {
    dispatch::Lock lock(settingsMutex_);
    const ns::Value* value = hybridSettingForKey(settings_, "BackupWebStorage");
    ns::Value normalised = value && value->isString() ? *value : ns::Value("cloud");
    setHybridSetting(settings_, std::move(normalised), "BackupWebStorage");
}

// --- Start page ----------------------------------------------------------------------------------

std::optional<ns::URL> HYBViewController::appUrl() {
    const std::string page = startPage_.value_or("index.html");
    const std::string www = wwwFolderName_.value_or("www");
    if (contains(page, "://")) return ns::URL::parse(page);
    if (contains(www, "://")) return ns::URL::parse(ns::format("%@/%@", www, page));
    if (contains(www, ".bundle") || contains(www, ".framework")) {
        auto bundle = ns::Bundle::bundleWithPath(www);
        auto path = bundle ? bundle->pathForResource(page, "") : std::nullopt;
        if (!path) return std::nullopt;
        return ns::URL::fileURLWithPath(*path);
    }
    std::optional<ns::URL> pageURL = ns::URL::parse(page);
    if (!pageURL || !commandDelegate_) return std::nullopt;
    std::optional<std::string> path = commandDelegate_->pathForResource(pageURL->path());
    if (!path) return std::nullopt;
    ns::URL fileURL = ns::URL::fileURLWithPath(*path);
    // Query and fragment of the start page survive onto the file URL.
    const size_t suffix = page.find_first_of("?#");
    if (suffix != std::string::npos) {
        if (auto resolved = ns::URL::parse(std::string_view(page).substr(suffix), fileURL)) {
            return resolved;
        }
    }
    return fileURL;
}

std::optional<ns::URL> HYBViewController::errorURL() {
    std::optional<std::string> value = hybridStringSettingForKey(settings(), "ErrorUrl");
    if (!value) return std::nullopt;
    if (contains(value, "://")) return ns::URL::parse(*value);
    std::optional<ns::URL> url = ns::URL::parse(*value);
    if (!url || !commandDelegate_) return std::nullopt;
    std::optional<std::string> path = commandDelegate_->pathForResource(url->path());
    if (!path) return std::nullopt;
    return ns::URL::fileURLWithPath(*path);
}

// --- Views -------------------------------------------------------------------------------------

void HYBViewController::viewDidLoad() {
    dispatch::RunLoop::requireMainThread("HYBViewController::viewDidLoad");
    ui::ViewController::viewDidLoad();
    loadSettings();
    normaliseBackupWebStorage();
    if (!launchView_) createLaunchView();
    if (!webView()) createGapView();
    createStartupPlugins();
    loadStartPage();
    const ui::Color background =
        ui::Color::named("BackgroundColor").value_or(ui::Color::whiteColor());
    if (launchView_) launchView_->setBackgroundColor(background);
    if (auto web = webView()) web->setBackgroundColor(background);
}

void HYBViewController::createStartupPlugins() {
    if (startupPluginNames_.empty()) return;
    HYBTimer::start("TotalPluginStartup");
    // A copy: a plug-in's initialisation may register further plug-ins.
    const std::vector<std::string> names = startupPluginNames_;
    for (const std::string& name : names) {
        HYBTimer::start(name);
        getCommandInstance(name);
        HYBTimer::stop(name);
    }
    HYBTimer::stop("TotalPluginStartup");
}

void HYBViewController::loadStartPage() {
    if (std::optional<ns::URL> url = appUrl()) {
        if (webViewEngine_) {
            webViewEngine_->loadRequest(wk::URLRequest(
                *url, net::URLRequestCachePolicy::UseProtocolCachePolicy, kStartPageTimeout));
        }
        return;
    }
    loadErrorForMissingStartPage();
}

void HYBViewController::loadErrorForMissingStartPage() {
    const std::string message =
        ns::format("ERROR: Start Page at '%@/%@' was not found.", wwwFolderName_.value_or("www"),
                   startPage_.value_or("index.html"));
    ns::nslog("%@", message);
    if (!webViewEngine_) return;
    if (std::optional<ns::URL> error = errorURL()) {
        const std::string query =
            ns::format("?error=%@",
                       ns::percentEncode(message, ns::CharacterSet::URLPathAllowedCharacterSet()));
        if (std::optional<ns::URL> url = ns::URL::parse(query, *error)) {
            ns::nslog("%@", url->absoluteString());
            webViewEngine_->loadRequest(wk::URLRequest(*url));
            return;
        }
    }
    // The message names config.xml's folder and page; they are shown as text, never markup.
    // Its base is the web folder, which the navigation filters admit; about:blank they refuse.
    const ns::URL base = ns::URL::fileURLWithPath(ns::Bundle::mainBundle()->bundlePath() + "/" +
                                                  wwwFolderName_.value_or("www") + "/");
    webViewEngine_->loadHTMLString(
        ns::format("<html><body> %@ </body></html>", htmlEscaped(message)), base);
}

void HYBViewController::createLaunchView() {
    auto launchView = ui::View::create(view()->bounds());
    launchView->setAlpha(0);
    const ns::Value info(infoDictionary());
    const ns::Value& storyboardName = info["UILaunchStoryboardName"];
    if (const std::string* name = storyboardName.string()) {
        if (auto controller = ui::Storyboard::named(*name)->instantiateInitialViewController()) {
            launchView->addSubview(controller->view());
        }
    }
    launchView_ = launchView;
    view()->addSubview(launchView);
}

void HYBViewController::createGapView() {
    std::shared_ptr<wk::WebView> web = newHybridViewWithFrame(view()->bounds());
    if (!web) return;
    web->setHidden(true);
    web->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    view()->addSubview(web);
    view()->sendSubviewToBack(web);
}

std::shared_ptr<HYBWebViewEngineProtocol> HYBViewController::makeEngine(const ui::Rect& frame) {
    const ns::Dictionary current = settings();
    const std::string defaultName = hybridStringSettingForKey(current, "HybridDefaultWebViewEngine")
                                        .value_or(kDefaultEngineClass);
    const std::string wantedName =
        hybridStringSettingForKey(current, "HybridWebViewEngine").value_or(defaultName);
    auto create = [&frame](const std::string& name) -> std::shared_ptr<HYBWebViewEngineProtocol> {
        const rt::Class* cls = rt::ClassRegistry::shared().classNamed(name);
        if (!cls || cls->isAbstract()) return nullptr;
        std::shared_ptr<ns::Object> object = cls->create();
        auto engine = std::dynamic_pointer_cast<HYBWebViewEngineProtocol>(object);
        if (engine) engine->initWithFrame(frame);
        if (auto plugin = std::dynamic_pointer_cast<HYBPlugin>(object)) plugin->setClassName(name);
        return engine;
    };
    std::shared_ptr<HYBWebViewEngineProtocol> engine = create(wantedName);
    if (engine) {
        // An engine that cannot show the start page gives way to the default one.
        std::optional<ns::URL> start = appUrl();
        if (start && !engine->canLoadRequest(wk::URLRequest(*start))) engine = nullptr;
    }
    if (!engine && wantedName != defaultName) engine = create(defaultName);
    if (!engine) {
        ns::nslog("ERROR: Web view engine class %@ does not exist.", defaultName);
        return nullptr;
    }
    webViewEngine_ = engine;
    if (auto plugin = std::dynamic_pointer_cast<HYBPlugin>(engine)) {
        registerPlugin(plugin, wantedName);
    }
    return engine;
}

std::shared_ptr<wk::WebView> HYBViewController::newHybridViewWithFrame(const ui::Rect& bounds) {
    auto engine = makeEngine(bounds);
    return engine ? engine->engineWebView() : nullptr;
}

double HYBViewController::launchScreenFadeDuration() const {
    const double configured = sanitisedSplashTiming(
        hybridFloatSettingForKey(settings(), "FadeSplashScreenDuration", kDefaultFadeDuration),
        kDefaultFadeDuration);
    return std::max(configured, kDefaultFadeDuration) / 1000.0;
}

void HYBViewController::showLaunchScreen(bool visible) {
    std::shared_ptr<ui::View> launchView = launchView_;
    if (!launchView) return;
    ui::View::animate(launchScreenFadeDuration(),
                      [launchView, visible] { launchView->setAlpha(visible ? 1.0 : 0.0); });
}

std::shared_ptr<wk::WebView> HYBViewController::webView() const {
    return webViewEngine_ ? webViewEngine_->engineWebView() : nullptr;
}

// --- Plug-ins ----------------------------------------------------------------------------------

std::shared_ptr<HYBPlugin> HYBViewController::makePlugin(const std::string& className) {
    const rt::Class* cls = rt::ClassRegistry::shared().classNamed(className);
    if (!cls || cls->isAbstract()) return nullptr;
    auto plugin = std::dynamic_pointer_cast<HYBPlugin>(cls->create());
    if (!plugin) return nullptr;
    plugin->setClassName(className);
    plugin->initWithWebViewEngine(webViewEngine_);
    return plugin;
}

std::optional<std::string> HYBViewController::pathForResource(std::string_view resourcepath) {
    const std::string www = wwwFolderName_.value_or("www");
    // A path that climbs out of the web folder names nothing in it.
    for (std::string_view part : ns::componentsSeparatedByCharacter(resourcepath, '/')) {
        if (part == "..") return std::nullopt;
    }
    const size_t slash = resourcepath.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? resourcepath : resourcepath.substr(slash + 1);
    const std::string_view subFolder =
        slash == std::string_view::npos ? std::string_view() : resourcepath.substr(0, slash);
    const std::string folder = subFolder.empty() ? www : ns::format("%@/%@", www, subFolder);
    return ns::Bundle::mainBundle()->pathForResource(fileName, "", folder);
}

std::shared_ptr<HYBPlugin> HYBViewController::getCommandInstance(std::string_view pluginName) {
    auto mapped = pluginsMap_.find(hybridSettingKey(pluginName));
    if (mapped == pluginsMap_.end()) return nullptr;
    const std::string& className = mapped->second;
    if (auto existing = pluginObjects_.find(className); existing != pluginObjects_.end()) {
        return existing->second;
    }
    std::shared_ptr<HYBPlugin> plugin = makePlugin(className);
    if (!plugin) {
        const ns::Value info(infoDictionary());
        const ns::Value& executable = info["CFBundleExecutable"];
        if (const std::string* prefix = executable.string()) {
            plugin = makePlugin(ns::format("%@.%@", *prefix, className));
        }
    }
    if (!plugin) {
        ns::nslog("HYBPlugin class %@ (pluginName: %@) does not exist.", className, pluginName);
        return nullptr;
    }
    registerPlugin(plugin, className);
    return plugin;
}

void HYBViewController::registerPlugin(const std::shared_ptr<HYBPlugin>& plugin,
                                       const std::string& className) {
    dispatch::RunLoop::requireMainThread("HYBViewController::registerPlugin");
    plugin->setViewController(sharedSelf<HYBViewController>());
    plugin->setCommandDelegate(commandDelegate_);
    pluginObjects_.insert_or_assign(className, plugin);
    plugin->pluginInitialize();
}

void HYBViewController::registerPluginWithPluginName(const std::shared_ptr<HYBPlugin>& plugin,
                                                     std::string_view pluginName) {
    const std::string className = plugin->className();
    pluginsMap_.insert_or_assign(hybridSettingKey(pluginName), className);
    registerPlugin(plugin, className);
}

// --- The page, for the command queue and delegate ---------------------------------------------

void HYBViewController::evaluateJavaScript(std::string script, EvaluationHandler completion) {
    if (webViewEngine_)
        webViewEngine_->evaluateJavaScript(std::move(script), std::move(completion));
}

void HYBViewController::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                            EvaluationHandler completion) {
    if (!webViewEngine_) return;
    webViewEngine_->callAsyncJavaScript(std::move(body), std::move(arguments),
                                        std::move(completion));
}

void HYBViewController::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                         const std::optional<std::string>& callbackId) {
    if (commandDelegate_) commandDelegate_->sendPluginResult(result, callbackId);
}

// --- Application events ---------------------------------------------------------------------

void HYBViewController::sendPageEvent(const char* script, bool scheduled) {
    if (commandDelegate_ && pageLoaded_) commandDelegate_->evalJs(script, scheduled);
}

void HYBViewController::onAppWillTerminate(const ns::Notification&) {
    emptyTemporaryDirectory();
}

void HYBViewController::onAppWillResignActive(const ns::Notification&) {
    checkAndReinitViewUrl();
    sendPageEvent(kResignScript, false);
}

void HYBViewController::onAppWillEnterForeground(const ns::Notification&) {
    checkAndReinitViewUrl();
    sendPageEvent(kResumeScript, true);
    if (versionIsBelow(ui::Device::current().systemVersion(), "11.0")) {
        ui::Pasteboard& pasteboard = ui::Pasteboard::general();
        if (std::optional<std::string> text = pasteboard.string()) {
            pasteboard.setValue(*text, ui::Pasteboard::kTypeText);
        }
    }
}

void HYBViewController::onAppDidBecomeActive(const ns::Notification&) {
    checkAndReinitViewUrl();
    sendPageEvent(kActiveScript, true);
}

void HYBViewController::onAppDidEnterBackground(const ns::Notification&) {
    checkAndReinitViewUrl();
    sendPageEvent(kPauseScript, false);
}

void HYBViewController::onWebViewPageReset(const ns::Notification& notification) {
    if (!notification.object || notification.object != webView()) return;
    pageLoaded_ = false;
    // The page that asked for the answers still coming in pieces will not join them.
    if (commandDelegate_) commandDelegate_->endAnswersInPieces();
}

void HYBViewController::onWebViewPageDidLoad(const ns::Notification& notification) {
    if (notification.object && notification.object == webView()) pageLoaded_ = true;
    if (auto web = webView()) web->setHidden(false);
    const ns::Dictionary current = settings();
    if (!hybridBoolSettingForKey(current, "AutoHideSplashScreen", true)) return;
    const double delay =
        sanitisedSplashTiming(hybridFloatSettingForKey(current, "SplashScreenDelay", 0), 0);
    if (delay == 0) {
        showLaunchScreen(false);
        return;
    }
    std::weak_ptr<HYBViewController> weakSelf = sharedSelf<HYBViewController>();
    dispatch::RunLoop::main().postAfter(dispatch::seconds(delay / 1000.0), [weakSelf] {
        if (auto self = weakSelf.lock()) self->showLaunchScreen(false);
    });
}

bool HYBViewController::isUrlEmpty(const std::optional<ns::URL>& url) {
    return !url || url->absoluteString().empty() || url->absoluteString() == "about:blank";
}

bool HYBViewController::checkAndReinitViewUrl() {
    if (!webViewEngine_ || !isUrlEmpty(webViewEngine_->URL())) return false;
    std::optional<ns::URL> start = appUrl();
    if (isUrlEmpty(start)) return false;
    webViewEngine_->loadRequest(wk::URLRequest(
        *start, net::URLRequestCachePolicy::UseProtocolCachePolicy, kStartPageTimeout));
    return true;
}

void HYBViewController::emptyTemporaryDirectory() const {
    const ns::FileManager& files = ns::FileManager::defaultManager();
    std::string directory = ns::Sandbox::temporaryDirectory();
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    // Only the application's own folder is emptied: a temporary folder that has been replaced
    // by a link to somewhere else is left alone.
    ns::Result<ns::FileAttributes> attributes = files.attributesOfItem(directory);
    if (!attributes || attributes->type != ns::FileType::Directory) return;
    ns::Result<std::vector<std::string>> names = files.contentsOfDirectory(directory);
    if (!names) return;
    for (const std::string& name : *names) {
        const std::string path = directory + "/" + name;
        // Removes links themselves, never what they point to.
        ns::Status removed = files.removeItem(path);
        if (!removed) ns::nslog("Failed to delete: %@ (error: %@)", path, removed.error());
    }
}

// --- View events -------------------------------------------------------------------------------

void HYBViewController::postViewNotification(const char* name) const {
    ns::NotificationCenter::defaultCenter().post(name);
}

void HYBViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    postViewNotification(HYBViewWillAppearNotification);
}

void HYBViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    postViewNotification(HYBViewDidAppearNotification);
}

void HYBViewController::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    postViewNotification(HYBViewWillDisappearNotification);
}

void HYBViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    postViewNotification(HYBViewDidDisappearNotification);
}

void HYBViewController::viewWillLayoutSubviews() {
    ui::ViewController::viewWillLayoutSubviews();
    postViewNotification(HYBViewWillLayoutSubviewsNotification);
}

void HYBViewController::viewDidLayoutSubviews() {
    ui::ViewController::viewDidLayoutSubviews();
    postViewNotification(HYBViewDidLayoutSubviewsNotification);
}

void HYBViewController::viewWillTransitionToSize(ui::Size size,
                                                 ui::TransitionCoordinator& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    ns::NotificationCenter::defaultCenter().post(HYBViewWillTransitionToSizeNotification,
                                                 std::make_shared<ns::Box<ui::Size>>(size));
}

void HYBViewController::didReceiveMemoryWarning() {
    bool pending = false;
    for (const auto& [name, plugin] : pluginObjects_) {
        if (!plugin->hasPendingOperation()) continue;
        ns::nslog(
            "Plugin '%@' has a pending operation, memory purge is delayed for "
            "didReceiveMemoryWarning.",
            name);
        pending = true;
    }
    if (!pending) ui::ViewController::didReceiveMemoryWarning();
}

// --- Orientation ---------------------------------------------------------------------------

std::vector<int> HYBViewController::parseInterfaceOrientations(const ns::Value& orientations) {
    static const std::map<std::string, int, std::less<>> kOrientations = {
        {"UIInterfaceOrientationPortrait", 1},
        {"UIInterfaceOrientationPortraitUpsideDown", 2},
        {"UIInterfaceOrientationLandscapeLeft", 4},
        {"UIInterfaceOrientationLandscapeRight", 3},
    };
    std::vector<int> result;
    if (const ns::Array* names = orientations.array()) {
        for (const ns::Value& name : *names) {
            if (!name.string()) continue;
            auto it = kOrientations.find(*name.string());
            if (it != kOrientations.end()) result.push_back(it->second);
        }
    }
    if (result.empty()) result.push_back(1);
    return result;
}

bool HYBViewController::supportsOrientation(int orientation) const {
    return std::find(supportedOrientations_.begin(), supportedOrientations_.end(), orientation) !=
           supportedOrientations_.end();
}

ui::InterfaceOrientationMask HYBViewController::supportedInterfaceOrientations() const {
    ui::InterfaceOrientationMask mask = 0;
    for (int orientation : supportedOrientations_) {
        if (orientation >= 1 && orientation <= 4)
            mask |= ui::InterfaceOrientationMask{1} << orientation;
    }
    return mask;
}

// --- Other -------------------------------------------------------------------------------------

std::optional<ui::Color> HYBViewController::colorFromColorString(
    const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    static const std::regex kPattern("^(#[0-9A-F]{3}|(0x|#)([0-9A-F]{2})?[0-9A-F]{6})$",
                                     std::regex::icase | std::regex::ECMAScript);
    if (!std::regex_match(*text, kPattern)) return std::nullopt;
    std::string hex = *text;
    if (hex.size() == 4 && hex[0] == '#') {
        hex = ns::format("#%@%@%@%@%@%@", hex.substr(1, 1), hex.substr(1, 1), hex.substr(2, 1),
                         hex.substr(2, 1), hex.substr(3, 1), hex.substr(3, 1));
    }
    for (size_t at = hex.find('#'); at != std::string::npos; at = hex.find('#', at)) {
        hex.replace(at, 1, "0x");
    }
    if (hex.size() == 8 && hex.rfind("0x", 0) == 0) hex = "0xFF" + hex.substr(2);
    char* end = nullptr;
    const unsigned long value = std::strtoul(hex.c_str() + 2, &end, 16);
    if (end == hex.c_str() + 2 || value > 0xFFFFFFFFul) return std::nullopt;
    const auto argb = static_cast<uint32_t>(value);
    return ui::Color(((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                     (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

std::optional<std::string> HYBViewController::appURLScheme() {
    const ns::Value info(infoDictionary());
    const ns::Value& scheme = info["CFBundleURLTypes"].at(0)["CFBundleURLSchemes"].at(0);
    if (const std::string* text = scheme.string()) return *text;
    return std::nullopt;
}

void HYBViewController::printVersion() const {
    ns::nslog("Zovozu Hybrid native platform version %@ is starting.",
              ns::format("%d.%d.%d", 6, 2, 0));
}

void HYBViewController::printMultitaskingInfo() const {
    const bool device = ui::Device::current().isMultitaskingSupported();
    const ns::Value info(infoDictionary());
    const bool exitsOnSuspend = info["UIApplicationExitsOnSuspend"].intValue() != 0;
    ns::nslog("Multi-tasking -> Device: %@, App: %@", device ? "YES" : "NO",
              exitsOnSuspend ? "NO" : "YES");
}

void HYBViewController::printPlatformVersionWarning() const {
    const std::string& version = ui::Device::current().systemVersion();
    if (versionIsBelow(version, "8.0")) {
        ns::nslog(
            "CRITICAL: For Hybrid 4.0.0 and above, you will need to upgrade to at least iOS 8.0 "
            "or greater. Your current version of iOS is %@.",
            version);
    }
}

std::optional<ns::URL> HYBViewController::openURL() const {
    dispatch::Lock lock(openURLMutex_);
    return openURL_;
}

void HYBViewController::setOpenURL(std::optional<ns::URL> url) {
    dispatch::Lock lock(openURLMutex_);
    openURL_ = std::move(url);
}
