#include "platform/ui/Application.h"

#include "platform/ns/Exception.h"
#include "platform/ns/SharedInstance.h"

namespace ui {

namespace {

// Stands in for a delegate that lacks an operation: its answers are the base class's defaults.
class NotImplementedDelegate final : public ApplicationDelegate {};

}  // namespace

Application::Application() = default;
Application::~Application() = default;

Application& Application::shared() {
    return ns::SharedInstance<Application>::get();
}

void Application::registerRuntimeClasses(rt::ClassRegistry& registry) {
    registry.registerProtocol(kApplicationDelegateProtocol);
    registry.registerClass("NSUserActivity", std::nullopt,
                           [] { return std::make_shared<UserActivity>(); },
                           {"activityType", "webpageURL", "userInfo"});
}

ApplicationDelegate& Application::notImplementedDelegate() {
    static NotImplementedDelegate none;
    return none;
}

// --- Delegate ---------------------------------------------------------------------------

std::shared_ptr<ApplicationDelegate> Application::delegate() const {
    dispatch::Lock lock(mutex_);
    return delegate_;
}

void Application::setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
    dispatch::Lock lock(mutex_);
    delegate_ = std::move(delegate);
    delegateClass_ = nullptr;
}

bool Application::setDelegateClass(std::string_view className, const rt::ClassRegistry& registry) {
    const rt::Class* cls = registry.classNamed(className);
    if (!cls) return false;
    auto delegate = std::dynamic_pointer_cast<ApplicationDelegate>(cls->create());
    if (!delegate) return false;
    dispatch::Lock lock(mutex_);
    delegate_ = std::move(delegate);
    delegateClass_ = cls;
    return true;
}

const rt::Class* Application::delegateClass() const {
    dispatch::Lock lock(mutex_);
    return delegateClass_;
}

// --- Interception -------------------------------------------------------------------------

bool Application::hasHooks(DelegateOp op) const {
    return [&]<size_t... I>(std::index_sequence<I...>) {
        return ((I == static_cast<size_t>(op) && !std::get<I>(chains_).empty()) || ...);
    }
    (std::make_index_sequence<kDelegateOpCount>());
}

bool Application::isHookInstalled(DelegateOp op, std::string_view owner) const {
    return [&]<size_t... I>(std::index_sequence<I...>) {
        return ((I == static_cast<size_t>(op) && std::get<I>(chains_).isInstalled(owner)) || ...);
    }
    (std::make_index_sequence<kDelegateOpCount>());
}

bool Application::delegateImplements(DelegateOp op) const {
    auto target = delegate();
    return target && target->implements(op);
}

bool Application::delegateRespondsTo(DelegateOp op) const {
    return delegateImplements(op) || hasHooks(op);
}

bool Application::delegateProxyEnabled() const {
    std::function<ns::Dictionary()> provider;
    {
        dispatch::Lock lock(mutex_);
        provider = infoDictionaryProvider_;
    }
    if (!provider) return true;
    ns::Dictionary info = provider();
    auto it = info.find(kAppDelegateProxyEnabledKey);
    if (it == info.end()) return true;
    const ns::Value& value = it->second;
    if (value.isBool() || value.isNumber()) return value.boolValue();
    return true;
}

void Application::setInfoDictionaryProvider(std::function<ns::Dictionary()> provider) {
    dispatch::Lock lock(mutex_);
    infoDictionaryProvider_ = std::move(provider);
}

// --- Life cycle -------------------------------------------------------------------------

void Application::requireRunning(const char* operation) const {
    if (!launched_) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            std::string(operation) + " before the application launched");
    }
    if (terminated_) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            std::string(operation) + " after the application terminated");
    }
}

void Application::announce(const char* notificationName, const ns::Dictionary& userInfo) {
    EventObserver observer;
    {
        dispatch::Lock lock(mutex_);
        observer = eventObserver_;
    }
    if (observer) observer(notificationName, userInfo);
}

void Application::setEventObserver(EventObserver observer) {
    dispatch::Lock lock(mutex_);
    eventObserver_ = std::move(observer);
}

bool Application::launch(ns::Dictionary options) {
    if (launched_) {
        throw ns::Exception(ns::kInternalInconsistencyException, "the application launched twice");
    }
    launched_ = true;
    launchOptions_ = std::move(options);
    state_ = ApplicationState::Inactive;
    bool willFinish = deliver<DelegateOp::WillFinishLaunching>(launchOptions_);
    bool didFinish = deliver<DelegateOp::DidFinishLaunching>(launchOptions_);
    announce(kApplicationDidFinishLaunchingNotification, launchOptions_);
    return willFinish && didFinish;
}

void Application::becomeActive() {
    requireRunning("becomeActive");
    if (state_ == ApplicationState::Active) return;
    if (state_ == ApplicationState::Background) enterForeground();
    state_ = ApplicationState::Active;
    deliver<DelegateOp::DidBecomeActive>();
    announce(kApplicationDidBecomeActiveNotification);
}

void Application::resignActive() {
    requireRunning("resignActive");
    if (state_ != ApplicationState::Active) return;
    // Still active while the delegate hears of it, as on the platform.
    deliver<DelegateOp::WillResignActive>();
    announce(kApplicationWillResignActiveNotification);
    state_ = ApplicationState::Inactive;
}

void Application::enterBackground() {
    requireRunning("enterBackground");
    if (state_ == ApplicationState::Background) return;
    if (state_ == ApplicationState::Active) resignActive();
    state_ = ApplicationState::Background;
    deliver<DelegateOp::DidEnterBackground>();
    announce(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
    requireRunning("enterForeground");
    if (state_ != ApplicationState::Background) return;
    deliver<DelegateOp::WillEnterForeground>();
    announce(kApplicationWillEnterForegroundNotification);
    state_ = ApplicationState::Inactive;
}

void Application::terminate() {
    requireRunning("terminate");
    deliver<DelegateOp::WillTerminate>();
    announce(kApplicationWillTerminateNotification);
    terminated_ = true;
}

void Application::receiveMemoryWarning() {
    requireRunning("receiveMemoryWarning");
    deliver<DelegateOp::DidReceiveMemoryWarning>();
    announce(kApplicationDidReceiveMemoryWarningNotification);
}

// --- Background tasks -------------------------------------------------------------------

BackgroundTaskIdentifier Application::beginBackgroundTask(std::string name,
                                                          std::function<void()> handler) {
    dispatch::Lock lock(mutex_);
    BackgroundTaskIdentifier identifier = ++lastBackgroundTask_;
    backgroundTasks_.emplace(identifier, BackgroundTask{std::move(name), std::move(handler)});
    return identifier;
}

bool Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    dispatch::Lock lock(mutex_);
    return backgroundTasks_.erase(identifier) == 1;
}

bool Application::isBackgroundTaskRunning(BackgroundTaskIdentifier identifier) const {
    dispatch::Lock lock(mutex_);
    return backgroundTasks_.contains(identifier);
}

size_t Application::runningBackgroundTaskCount() const {
    dispatch::Lock lock(mutex_);
    return backgroundTasks_.size();
}

void Application::expireBackgroundTasks() {
    std::vector<std::pair<BackgroundTaskIdentifier, std::function<void()>>> expiring;
    {
        dispatch::Lock lock(mutex_);
        for (const auto& [identifier, task] : backgroundTasks_) {
            expiring.emplace_back(identifier, task.expirationHandler);
        }
    }
    // Handlers run without the lock: they end their tasks, and may begin new ones.
    for (const auto& [identifier, handler] : expiring) {
        if (handler && isBackgroundTaskRunning(identifier)) handler();
    }
    dispatch::Lock lock(mutex_);
    for (const auto& [identifier, handler] : expiring) backgroundTasks_.erase(identifier);
}

// --- Requests to the system ---------------------------------------------------------------

void Application::registerForRemoteNotifications() {
    std::function<void()> handler;
    {
        dispatch::Lock lock(mutex_);
        ++remoteNotificationRegistrations_;
        handler = remoteNotificationRegistrationHandler_;
    }
    if (handler) handler();
}

size_t Application::remoteNotificationRegistrationCount() const {
    dispatch::Lock lock(mutex_);
    return remoteNotificationRegistrations_;
}

void Application::setRemoteNotificationRegistrationHandler(std::function<void()> handler) {
    dispatch::Lock lock(mutex_);
    remoteNotificationRegistrationHandler_ = std::move(handler);
}

bool Application::openURL(const ns::URL& url) {
    std::function<bool(const ns::URL&)> opener;
    {
        dispatch::Lock lock(mutex_);
        openedURLs_.push_back(url);
        opener = urlOpener_;
    }
    return opener ? opener(url) : true;
}

std::vector<ns::URL> Application::openedURLs() const {
    dispatch::Lock lock(mutex_);
    return openedURLs_;
}

void Application::setURLOpener(std::function<bool(const ns::URL&)> opener) {
    dispatch::Lock lock(mutex_);
    urlOpener_ = std::move(opener);
}

}  // namespace ui
