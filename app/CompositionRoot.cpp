#include "app/CompositionRoot.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/PushLaunchNotifications.h"
#include "app/StorePurchases.h"
#include "bridge/HYBHostClasses.h"
#include "bridge/HYBPlugin.h"
#include "platform/av/BarcodeCodec.h"
#include "platform/av/Camera.h"
#include "platform/av/Microphone.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/av/VideoCodec.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/HTTPTransport.h"
#include "platform/net/TLSEngine.h"
#include "platform/net/URLSession.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/TemporaryFiles.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/rt/ProcessAllocator.h"
#include "platform/sec/CryptoEngine.h"
#include "platform/svc/PushService.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationNotifications.h"
#include "platform/ui/StatusBar.h"
#include "plugins/device_storage/HYBDeviceStatePlugins.h"
#include "plugins/device_storage/HYBFileClasses.h"
#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"
#include "plugins/media_browser/HYBBarcodeScanner.h"
#include "plugins/media_browser/HYBDesktopURLOpener.h"
#include "plugins/media_browser/HYBMediaBrowserClasses.h"
#include "plugins/media_browser/HYBMediaClasses.h"
#include "plugins/push/NCMPushClasses.h"
#include "plugins/push/NCMPushPage.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/messaging/NEBMessaging.h"
#include "signin/HybridSalPlugin.h"

namespace {

// "--camera page:FILE": what the page writes to its temporary folder, else FILE.
constexpr std::string_view kPageCameraPrefix = HostArguments::kPageCameraPrefix;

bool configureCamera(const std::string& spec) {
    if (!spec.starts_with(kPageCameraPrefix)) return av::Camera::configure(spec);
    return av::Camera::configureWatching(ns::Sandbox::temporaryDirectory(),
                                         spec.substr(kPageCameraPrefix.size()));
}

// Puts the picture into the library's top level under its file name, unless a photo of that
// name holds the same bytes already: a run that adds the same pictures at every start (as
// tools/dev run does) keeps one of each.
ns::Status addPhotoOnce(const std::string& path) {
    auto bytes = ns::readFile(path);
    if (!bytes.ok()) return bytes.error();
    const std::string name = std::filesystem::path(path).filename().string();
    auto present = ns::readFile(av::PhotoLibrary::libraryPath() + "/" + name);
    if (present.ok() && present.value() == bytes.value()) return {};
    auto added = av::PhotoLibrary::shared().addPhoto(bytes.value(), name);
    if (!added.ok()) return added.error();
    return {};
}

// The messaging library on the SDK's services, reading the device's credentials from instance
// identity, and the process's from now on (the application delegate starts it at the launch
// when the bundle holds the SDK's options).
std::shared_ptr<NEBMessaging> makeMessaging() {
    auto messaging = std::make_shared<NEBMessaging>(NEBApp::services(), [] {
        return NEBMessagingCheckinService::credentialsOf(*NEBInstanceID::instanceID());
    });
    NEBMessaging::setMessaging(messaging);
    return messaging;
}

// The push side of the program, made once for the process: the page's end of the push road and
// the messaging library. Never destroyed: the library's socket and store outlive static objects.
struct PushSide {
    std::shared_ptr<NCMPushPage> page;
    std::shared_ptr<NEBMessaging> messaging;
};

const PushSide& pushSide() {
    static const auto& side = *new PushSide{std::make_shared<NCMPushPage>(), makeMessaging()};
    return side;
}

std::optional<std::string> defaultToken() {
    return NEBInstanceID::instanceID()->token();
}

CompositionRoot::MainLoop& mainLoop() {
    static CompositionRoot::MainLoop loop{[] { dispatch::RunLoop::main().run(); },
                                          [] { dispatch::RunLoop::main().stop(); }};
    return loop;
}

// The write end of the pipe that the terminate signals' handler writes to (-1 when none).
std::atomic<int> gSignalPipe{-1};

void onTerminateSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    const int fd = gSignalPipe.load();
    if (fd >= 0) (void)!::write(fd, &byte, 1);
    errno = saved;
}

// Ends the application on SIGINT and SIGTERM, so that the shutdown runs on the main run loop.
// The signals get a handler that only writes their number to a pipe which the run loop reads:
// whichever thread the kernel picks to run it (threads started before main() may take these
// signals), the shutdown is the same.
class SignalWatch {
public:
    SignalWatch() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        readFd_ = fds[0];
        gSignalPipe.store(fds[1]);
        source_ =
            dispatch::RunLoop::main().addSource(readFd_, dispatch::kFdReadable, [this](unsigned) {
                unsigned char signal = 0;
                if (::read(readFd_, &signal, 1) != 1) return;
                ns::nslog("hybrid-host: signal %d received, terminating.",
                          static_cast<int>(signal));
                stop();
            });
        struct sigaction action {};
        action.sa_handler = onTerminateSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &previousInt_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    ~SignalWatch() {
        if (readFd_ < 0) return;
        ::sigaction(SIGINT, &previousInt_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
        dispatch::RunLoop::main().removeSource(source_);
        ::close(gSignalPipe.exchange(-1));
        ::close(readFd_);
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    static void stop() {
        auto& application = ui::Application::shared();
        if (application.isLaunched() && !application.isTerminated()) application.terminate();
        mainLoop().stop();
    }

private:
    int readFd_ = -1;
    dispatch::SourceId source_{};
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

}  // namespace

void CompositionRoot::setMainLoop(MainLoop loop) {
    mainLoop() = std::move(loop);
}

void CompositionRoot::registerClasses(rt::ClassRegistry& registry) {
    ui::Application::registerRuntimeClasses(registry);
    HYBHostClasses::registerClasses(registry);
    HYBDeviceStatePlugins::registerClasses(registry);
    HYBFileClasses::registerClasses(registry);
    HYBSQLiteDeviceClasses::registerClasses(registry);
    HYBMediaBrowserClasses::registerClasses(registry);
    HYBMediaClasses::registerClasses(registry);
    HYBBarcodeScanner::registerClasses(registry);
    const auto& push = pushSide();
    NCMPushClasses::registerClasses(registry, push.page, push.messaging, defaultToken);
    NEBMessaging::registerClasses(registry);
    NEBAnalytics::registerClass(registry);
    HybridSalPlugin::registerClasses(registry);
    registry.registerClass(kDelegateClassName, "HYBAppDelegate", [&push] {
        return std::make_shared<AppDelegate>(push.page, push.messaging, defaultToken);
    });
}

void CompositionRoot::provideModules(const std::string& folder) {
    auto& loader = rt::ModuleLoader::shared();
    loader.provide(av::VideoCodec::kClassName, folder + "/hybrid-video.so");
    loader.provide(av::BarcodeCodec::kClassName, folder + "/hybrid-codes.so");
    loader.provide(net::HTTPTransport::kClassName, folder + "/hybrid-net.so");
    loader.provide(sec::CryptoEngine::kClassName, folder + "/hybrid-crypto.so");
    loader.provide(net::TLSEngine::kClassName, folder + "/hybrid-crypto.so");
}

ns::Status CompositionRoot::prepare(const Options& options) {
    namespace fs = std::filesystem;
    if (!HostArguments::isBundle(options.bundlePath)) {
        return HostArguments::usageError(options.bundlePath +
                                         " is not a bundle (config.xml and www/)");
    }
    std::error_code ec;
    ns::Bundle::setMainBundlePath(fs::absolute(options.bundlePath, ec).string());
    // The SDK reads its debug switches from here when it starts, after the launch.
    if (!options.launchArguments.empty())
        ns::ProcessInfo::processInfo().setArguments(options.launchArguments);
    if (options.sandboxPath) {
        if (auto status = ns::Sandbox::configure(fs::absolute(*options.sandboxPath, ec).string());
            !status) {
            return status;
        }
    }
    // The SDK's services may be local servers with an authority of their own (NEBServiceHosts).
    NEBServiceHosts::applyTrustedCAFile();
    if (options.systemVersion) sys::DeviceFacts::current().setSystemVersion(*options.systemVersion);
    if (options.microphone && !av::Microphone::configure(*options.microphone)) {
        return HostArguments::usageError("cannot use " + *options.microphone +
                                         " as the microphone");
    }
    if (options.camera && !configureCamera(*options.camera)) {
        return HostArguments::usageError("cannot use " + *options.camera + " as the camera");
    }
    for (const std::string& photo : options.photos) {
        if (auto status = addPhotoOnce(photo); !status) {
            return HostArguments::usageError("--add-photo " + photo + ": " +
                                             status.error().localizedDescription());
        }
    }
    // Without a choice, the machine's own camera and microphone, when it has them: opened when
    // first used, so that a run that uses neither never opens them.
    if (!options.camera) av::Camera::attachFirstDeviceWhenAsked();
    if (!options.microphone) av::Microphone::attachFirstDeviceWhenAsked();
    // The push service answers registrations with this installation's device token.
    svc::PushService::install(ui::Application::shared(), [installation = ns::Sandbox::root()] {
        return svc::PushService::deviceTokenForInstallation(installation);
    });
    PushLaunchNotifications::setNotifications(options.openedNotifications,
                                              options.remoteNotifications);
    StorePurchases::setPurchases(options.purchases);
    ui::Application::shared().setInfoDictionaryProvider(
        [] { return ns::Bundle::mainBundle()->infoDictionary(); });
    ui::Application::shared().setURLOpener(HYBDesktopURLOpener::open);
    // Plug-ins and the view controller hear the life cycle through the notification centre.
    static bool notificationsInstalled = false;
    if (!notificationsInstalled) {
        ui::ApplicationNotifications::install();
        notificationsInstalled = true;
    }
    // Absent means view-controller-based appearance, as on the phone.
    const ns::Dictionary& info = ns::Bundle::mainBundle()->infoDictionary();
    auto vcBased = info.find("UIViewControllerBasedStatusBarAppearance");
    ui::StatusBar::shared().setViewControllerBasedAppearance(vcBased == info.end() ||
                                                             vcBased->second.boolValue());
    registerClasses(rt::ClassRegistry::shared());
    ns::nslog("hybrid-host: bundle %@, sandbox %@", ns::Bundle::mainBundle()->bundlePath(),
              ns::Sandbox::root());
    return {};
}

bool CompositionRoot::launch() {
    auto& application = ui::Application::shared();
    if (!application.setDelegateClass(kDelegateClassName)) {
        ns::nslog("hybrid-host: the application delegate class %@ is missing.", kDelegateClassName);
        return false;
    }
    if (!application.launch()) return false;
    PushLaunchNotifications::openAtLaunch(application);
    // Uploads that an earlier run left unfinished (a crash, a kill) go on now, through the
    // owners that took them up in the launch.
    net::URLSession::resumePendingBackgroundJobs(
        [&application](const std::string& identifier, std::function<void()> completion) {
            application.deliver<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
                identifier, ui::CompletionHandler(std::move(completion)));
        });
    application.becomeActive();
    PushLaunchNotifications::deliverWhenPageIsReady(application, pushSide().page);
    StorePurchases::completeWhenObserved();
    return true;
}

int CompositionRoot::run(const Options& options) {
    if (auto status = prepare(options); !status) {
        ns::nslog("hybrid-host: %@", status.error().localizedDescription());
        return 2;
    }
    SignalWatch signals;
    // The launch is over once the first page has loaded; later loads change nothing.
    auto& center = ns::NotificationCenter::defaultCenter();
    auto launched = std::make_shared<ns::NotificationCenter::ObserverToken>();
    *launched = center.addObserver(
        HYBPageDidLoadNotification, nullptr, [launched](const ns::Notification&) {
            rt::ProcessAllocator::launchFinished();
            ns::NotificationCenter::defaultCenter().removeObserver(*launched);
        });
    if (options.exitAfterLoad) {
        ns::NotificationCenter::defaultCenter().addObserver(
            HYBPageDidLoadNotification, nullptr, [](const ns::Notification&) {
                ns::nslog("hybrid-host: start page loaded, exiting.");
                dispatch::RunLoop::main().post([] { SignalWatch::stop(); });
            });
    }
    // Rewrites that a kill or crash cut short left their temporary files; so may writes still
    // under way on background queues when the run loop ends, which the exit cuts short.
    ns::TemporaryFiles::removeStale(ns::Sandbox::root());
    if (!launch()) return 1;
    mainLoop().run();
    ns::TemporaryFiles::removeStale(ns::Sandbox::root());
    return 0;
}
