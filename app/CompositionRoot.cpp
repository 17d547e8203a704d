#include "app/CompositionRoot.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
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
#include "platform/ui/ImageCodec.h"
#include "platform/ui/StatusBar.h"
#include "plugins/device_storage/HYBDeviceStatePlugins.h"
#include "plugins/device_storage/HYBFileClasses.h"
#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"
#include "plugins/media_browser/HYBBarcodeScanner.h"
#include "plugins/media_browser/HYBDesktopURLOpener.h"
#include "plugins/media_browser/HYBMediaBrowserClasses.h"
#include "plugins/media_browser/HYBMediaClasses.h"
#include "plugins/push/NCMPushClasses.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/messaging/NEBMessaging.h"
#include "signin/HybridSalPlugin.h"

namespace {

constexpr const char* kErrorDomain = "HybridHostErrorDomain";

// One line: the error reaches the log, which would show a line break as "\n".
ns::Error usageError(const std::string& problem) {
    return ns::Error(kErrorDomain, 1, {{ns::kLocalizedDescriptionKey, problem}});
}

// "17", "17.0" or "17.0.1".
bool isVersion(const std::string& text) {
    size_t parts = 0;
    for (size_t start = 0; start <= text.size(); ++parts) {
        const size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view part(text.data() + start, dot - start);
        if (part.empty() || part.size() > 9 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        start = dot + 1;
    }
    return parts <= 3;
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// "tone:HZ" with a positive frequency, or "wav:FILE" naming a file.
bool isMicrophoneSource(const std::string& spec) {
    if (spec.starts_with("wav:")) return isRegularFile(spec.substr(4));
    if (spec.starts_with("alsa:")) return spec.size() > 5;
    if (!spec.starts_with("tone:")) return false;
    char* end = nullptr;
    const double hz = std::strtod(spec.c_str() + 5, &end);
    return end && *end == '\0' && end != spec.c_str() + 5 && std::isfinite(hz) && hz > 0;
}

// "--camera page:FILE": what the page writes to its temporary folder, else FILE.
constexpr std::string_view kPageCameraPrefix = "page:";

bool configureCamera(const std::string& spec) {
    if (!spec.starts_with(kPageCameraPrefix)) return av::Camera::configure(spec);
    return av::Camera::configureWatching(ns::Sandbox::temporaryDirectory(),
                                         spec.substr(kPageCameraPrefix.size()));
}

// Larger files are not taken for photos (nor read whole to find out).
constexpr uintmax_t kMaxPhotoBytes = 64u << 20;

// A file of photo size that decodes as a PNG or JPEG picture.
bool isPicture(const std::string& path) {
    std::error_code ec;
    if (!isRegularFile(path) || std::filesystem::file_size(path, ec) > kMaxPhotoBytes || ec)
        return false;
    auto bytes = ns::readFile(path);
    return bytes.ok() && ui::ImageCodec::decode(bytes.value()) != nullptr;
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
    HYBBarcodeScanner::registerClasses(registry);
    NCMPushClasses::registerClasses(registry);
    NEBMessaging::registerClasses(registry);
    NEBAnalytics::registerClass(registry);
    HybridSalPlugin::registerClasses(registry);
    registry.registerClass(kDelegateClassName, "HYBAppDelegate",
                           [] { return std::make_shared<AppDelegate>(); });
}

void CompositionRoot::provideModules(const std::string& folder) {
    auto& loader = rt::ModuleLoader::shared();
    loader.provide(av::VideoCodec::kClassName, folder + "/hybrid-video.so");
    loader.provide(av::BarcodeCodec::kClassName, folder + "/hybrid-codes.so");
    loader.provide(net::HTTPTransport::kClassName, folder + "/hybrid-net.so");
    loader.provide(sec::CryptoEngine::kClassName, folder + "/hybrid-crypto.so");
    loader.provide(net::TLSEngine::kClassName, folder + "/hybrid-crypto.so");
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

std::string CompositionRoot::helpText() {
    return std::string(kUsage) +
           "\n"
           "Runs a web application bundle (config.xml, www/, Info.plist) in a window.\n"
           "  --bundle DIR                   the bundle to run (default: examples/bundle, found "
           "beside or above the program)\n"
           "  --sandbox DIR                  the application's persistent data (default: "
           "$XDG_DATA_HOME/hybrid-host/<bundle identifier>)\n"
           "  --system-version X.Y           the system version the device reports (default: "
           "17.0)\n"
           "  --exit-after-load              leave once the start page has loaded\n"
           "  --microphone tone:HZ|wav:FILE|alsa:DEVICE  what the microphone hears: a tone, a WAV "
           "file or a sound card (default: the machine's, else a 440 Hz tone)\n"
           "  --camera FILE|DIR|/dev/videoN|page:FILE  what the camera sees: an image, a video, "
           "the newest image in a folder, a video device, or the newest image the page wrote to "
           "its temporary folder and FILE while there is none (default: the machine's first, "
           "if any)\n"
           "  --add-photo FILE               a PNG or JPEG picture put into the photo library, "
           "unless it is there already (repeatable)\n"
           "  --remote-notification FILE.json a push notification arriving once the page is "
           "ready for pushes (repeatable)\n"
           "  --open-notification FILE.json  a push notification the user opened, which "
           "launched the application (repeatable)\n"
           "  --complete-purchase PRODUCT_ID a purchase of the product (sold by the stand-in "
           "store at 0.99 USD) completes once the application observes the store (repeatable)\n"
           "  -NEBAnalyticsDebugEnabled      analytics debug mode on: verbose analytics log, "
           "events marked as debug and real-time; stays on in later runs\n"
           "  -noNEBAnalyticsDebugEnabled    analytics debug mode off (wins over the above)\n"
           "  -NEBDebugEnabled               SDK core debug logging on; stays on in later runs\n"
           "  -NEBDebugDisabled              SDK core debug logging off (wins over the above)\n"
           "  --help                         print this help and leave\n";
}

const std::vector<std::string>& CompositionRoot::sdkLaunchSwitches() {
    static const std::vector<std::string> switches{
        kNEBADebugEnabledArgument, kNEBADebugDisabledArgument, kNEBDebugEnabledArgument,
        kNEBDebugDisabledArgument};
    return switches;
}

ns::Result<CompositionRoot::Options> CompositionRoot::parseArguments(
    const std::vector<std::string>& arguments, const std::string& executablePath) {
    Options options;
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end() ||
        std::find(arguments.begin(), arguments.end(), "-h") != arguments.end()) {
        options.help = true;
        return options;
    }
    std::optional<std::string> bundle;
    options.launchArguments = {executablePath};
    const auto& switches = sdkLaunchSwitches();
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--exit-after-load") {
            options.exitAfterLoad = true;
            continue;
        }
        if (std::find(switches.begin(), switches.end(), argument) != switches.end()) {
            options.launchArguments.push_back(argument);
            continue;
        }
        static const std::map<std::string, const char*> kValueNames{
            {"--bundle", "a folder"},
            {"--sandbox", "a folder"},
            {"--microphone", "a source"},
            {"--camera", "a file or folder"},
            {"--add-photo", "a picture"},
            {"--system-version", "a version"},
            {"--remote-notification", "a JSON file"},
            {"--open-notification", "a JSON file"},
            {"--complete-purchase", "a product identifier"}};
        const auto named = kValueNames.find(argument);
        if (named == kValueNames.end()) return usageError("unknown argument " + argument);
        if (i + 1 >= arguments.size()) return usageError(argument + " needs " + named->second);
        const std::string& value = arguments[++i];
        const std::string given = argument + " " + value;
        if (argument == "--bundle") {
            if (!isBundle(value)) return usageError(given + ": not a bundle (config.xml and www/)");
            bundle = value;
        } else if (argument == "--sandbox") {
            std::error_code ec;
            if (std::filesystem::exists(value, ec) && !std::filesystem::is_directory(value, ec))
                return usageError(given + ": not a folder");
            options.sandboxPath = value;
        } else if (argument == "--microphone") {
            if (!isMicrophoneSource(value))
                return usageError(given +
                                  ": neither tone:HZ, wav: and a file, nor alsa: and a device");
            options.microphone = value;
        } else if (argument == "--camera" && value.starts_with(kPageCameraPrefix)) {
            if (!isRegularFile(value.substr(std::string_view(kPageCameraPrefix).size())))
                return usageError(given + ": no such image or video file after page:");
            options.camera = value;
        } else if (argument == "--camera") {
            std::error_code ec;
            if (!isRegularFile(value) && !std::filesystem::is_directory(value, ec) &&
                !(value.starts_with("/dev/video") && std::filesystem::is_character_file(value, ec)))
                return usageError(given + ": no such file, folder or video device");
            options.camera = value;
        } else if (argument == "--add-photo") {
            if (std::filesystem::path(value).filename().string().starts_with("."))
                return usageError(given + ": a hidden file is not a photo");
            if (!isPicture(value))
                return usageError(given + ": not a PNG or JPEG picture of at most 64 MiB");
            options.photos.push_back(value);
        } else if (argument == "--remote-notification" || argument == "--open-notification") {
            auto payload = PushLaunchNotifications::readPayload(value);
            if (!payload) return usageError(given + ": " + payload.error().localizedDescription());
            (argument == "--open-notification" ? options.openedNotifications
                                               : options.remoteNotifications)
                .push_back(std::move(*payload));
        } else if (argument == "--complete-purchase") {
            if (auto valid = StorePurchases::checkProductIdentifier(value); !valid)
                return usageError(given + ": " + valid.error().localizedDescription());
            options.purchases.push_back(value);
        } else {
            if (!isVersion(value)) return usageError(given + ": not a version such as 17.0");
            options.systemVersion = value;
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
        return usageError("cannot use " + *options.microphone + " as the microphone");
    }
    if (options.camera && !configureCamera(*options.camera)) {
        return usageError("cannot use " + *options.camera + " as the camera");
    }
    for (const std::string& photo : options.photos) {
        if (auto status = addPhotoOnce(photo); !status) {
            return usageError("--add-photo " + photo + ": " +
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
    PushLaunchNotifications::deliverWhenPageIsReady(application);
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
