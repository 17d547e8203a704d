#include "app/CompositionRoot.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "app/AppDelegate.h"
#include "bridge/HYBHostClasses.h"
#include "bridge/HYBPlugin.h"
#include "platform/av/Camera.h"
#include "platform/av/Microphone.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/URLSession.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ns/Notification.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationNotifications.h"
#include "platform/ui/StatusBar.h"
#include "plugins/device_storage/HYBDeviceStatePlugins.h"
#include "plugins/device_storage/HYBFileClasses.h"
#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"
#include "plugins/media_browser/HYBDesktopURLOpener.h"
#include "plugins/media_browser/HYBMediaBrowserClasses.h"
#include "plugins/media_browser/HYBMediaClasses.h"
#include "plugins/push/NCMPushClasses.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "sdk/messaging/NEBMessaging.h"
#include "signin/HybridSalPlugin.h"

namespace {

constexpr const char* kErrorDomain = "HybridHostErrorDomain";

ns::Error usageError(const std::string& problem) {
    return ns::Error(kErrorDomain, 1,
                     {{ns::kLocalizedDescriptionKey, problem + "\n" + CompositionRoot::kUsage}});
}

bool isBundle(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_regular_file(folder / "config.xml", ec) &&
           std::filesystem::is_directory(folder / "www", ec);
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
    NCMPushClasses::registerClasses(registry);
    NEBMessaging::registerClasses(registry);
    NEBAnalytics::registerClass(registry);
    HybridSalPlugin::registerClasses(registry);
    registry.registerClass(kDelegateClassName, "HYBAppDelegate",
                           [] { return std::make_shared<AppDelegate>(); });
}

std::optional<std::string> CompositionRoot::defaultBundlePath(const std::string& executablePath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(fs::path(executablePath), ec).parent_path();
    if (isBundle(folder / "bundle")) return (folder / "bundle").string();
    for (; !folder.empty(); folder = folder.parent_path()) {
        if (isBundle(folder / "examples" / "bundle"))
            return (folder / "examples" / "bundle").string();
        if (folder == folder.root_path()) break;
    }
    return std::nullopt;
}

ns::Result<CompositionRoot::Options> CompositionRoot::parseArguments(
    const std::vector<std::string>& arguments, const std::string& executablePath) {
    Options options;
    std::optional<std::string> bundle;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--exit-after-load") {
            options.exitAfterLoad = true;
        } else if (argument == "--bundle" || argument == "--sandbox") {
            if (i + 1 >= arguments.size()) return usageError(argument + " needs a folder");
            (argument == "--bundle" ? bundle : options.sandboxPath) = arguments[++i];
        } else if (argument == "--microphone" || argument == "--camera") {
            if (i + 1 >= arguments.size()) return usageError(argument + " needs a source");
            (argument == "--camera" ? options.camera : options.microphone) = arguments[++i];
        } else if (argument == "--system-version") {
            if (i + 1 >= arguments.size()) return usageError(argument + " needs a version");
            options.systemVersion = arguments[++i];
        } else {
            return usageError("unknown argument " + argument);
        }
    }
    if (!bundle) bundle = defaultBundlePath(executablePath);
    if (!bundle) return usageError("no bundle found; name one with --bundle");
    options.bundlePath = *bundle;
    return options;
}

ns::Status CompositionRoot::prepare(const Options& options) {
    namespace fs = std::filesystem;
    if (!isBundle(options.bundlePath)) {
        return usageError(options.bundlePath + " is not a bundle (config.xml and www/)");
    }
    std::error_code ec;
    ns::Bundle::setMainBundlePath(fs::absolute(options.bundlePath, ec).string());
    if (options.sandboxPath) {
        if (auto status = ns::Sandbox::configure(fs::absolute(*options.sandboxPath, ec).string());
            !status) {
            return status;
        }
    }
    if (options.systemVersion) sys::DeviceFacts::current().setSystemVersion(*options.systemVersion);
    if (options.microphone && !av::Microphone::configure(*options.microphone)) {
        return usageError("cannot use " + *options.microphone + " as the microphone");
    }
    if (options.camera && !av::Camera::configure(*options.camera)) {
        return usageError("cannot use " + *options.camera + " as the camera");
    }
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
    // Uploads that an earlier run left unfinished (a crash, a kill) go on now, through the
    // owners that took them up in the launch.
    net::URLSession::resumePendingBackgroundJobs(
        [&application](const std::string& identifier, std::function<void()> completion) {
            application.deliver<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
                identifier, ui::CompletionHandler(std::move(completion)));
        });
    application.becomeActive();
    return true;
}

int CompositionRoot::run(const Options& options) {
    if (auto status = prepare(options); !status) {
        ns::nslog("hybrid-host: %@", status.error().localizedDescription());
        return 2;
    }
    SignalWatch signals;
    if (options.exitAfterLoad) {
        ns::NotificationCenter::defaultCenter().addObserver(
            HYBPageDidLoadNotification, nullptr, [](const ns::Notification&) {
                ns::nslog("hybrid-host: start page loaded, exiting.");
                dispatch::RunLoop::main().post([] { SignalWatch::stop(); });
            });
    }
    if (!launch()) return 1;
    mainLoop().run();
    return 0;
}
