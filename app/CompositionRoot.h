#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace rt {
class ClassRegistry;
}  // namespace rt

// Puts the host together: registers every class that is found by name (the delegate class,
// the web view engine and the plug-ins under their config.xml class names), points the
// process at its bundle and sandbox, and launches the application.
class CompositionRoot {
public:
    struct Options {
        std::string bundlePath;
        std::optional<std::string> sandboxPath;
        // Leave once the start page has loaded (for scripted runs).
        bool exitAfterLoad = false;
        // The system version the device reports (sys::DeviceFacts' default otherwise).
        std::optional<std::string> systemVersion;
        // The sound the recorder hears: "tone:HZ" or "wav:PATH".
        std::optional<std::string> microphone = std::nullopt;
        // What the camera sees: a still image, a video file, a folder's newest image, or
        // "page:FILE" (the newest image in the application's temporary folder, else FILE).
        std::optional<std::string> camera = std::nullopt;
        // Pictures put into the photo library at start (one that is there already is kept).
        std::vector<std::string> photos = {};
        // Push notifications played from the command line (payloads read from JSON files):
        // opened by the user at launch, and arriving once the page is ready for pushes.
        std::vector<ns::Dictionary> openedNotifications = {};
        std::vector<ns::Dictionary> remoteNotifications = {};
        // --help: print helpText() and do nothing else.
        bool help = false;
        // The program name and the SDK's launch switches (its debug modes, which persist until
        // switched off), handed over by prepare() as the process's launch arguments; when
        // empty, prepare() leaves those alone. The host's own options are not among them.
        std::vector<std::string> launchArguments = {};
        // Products bought once the application observes the store (StorePurchases).
        std::vector<std::string> purchases = {};
    };

    static constexpr const char* kUsage =
        "usage: hybrid-host [--bundle DIR] [--sandbox DIR] [--system-version X.Y] "
        "[--exit-after-load] [--microphone tone:HZ|wav:FILE] [--camera FILE|DIR|page:FILE] "
        "[--add-photo FILE] "
        "[--remote-notification FILE.json] [--open-notification FILE.json] "
        "[--complete-purchase PRODUCT_ID] "
        "[-NEBAnalyticsDebugEnabled|-noNEBAnalyticsDebugEnabled] "
        "[-NEBDebugEnabled|-NEBDebugDisabled] [--help]";
    // The SDK's launch switches that the host passes on (see Options::launchArguments).
    static const std::vector<std::string>& sdkLaunchSwitches();
    // kUsage and one line for each option.
    static std::string helpText();
    // The application delegate class that the application loop is started with.
    static constexpr const char* kDelegateClassName = "AppDelegate";

    // What run() drives the main thread with, and what ends it: the run loop's own driver
    // unless the host installs another (the GLib main loop that the web engine needs).
    struct MainLoop {
        std::function<void()> run;
        std::function<void()> stop;
    };
    static void setMainLoop(MainLoop loop);

    static void registerClasses(rt::ClassRegistry& registry);
    // The parts that bring large libraries of their own are modules in the program's folder
    // (`folder`), loaded when a plug-in first needs them.
    static void provideModules(const std::string& folder);

    // Codes of parseArguments' errors: an argument at fault, or a bundle whose config.xml
    // cannot be read.
    static constexpr int kArgumentErrorCode = 1;
    static constexpr int kConfigurationErrorCode = 2;
    // The options of the command line (without the program name), each checked as far as
    // can be without starting anything (a bundle must be one with a config.xml that can be
    // read, a version a version, a camera file a file), so that a mistake is reported before a
    // display is needed. An error's description is one line that names the argument at fault,
    // or the file, line and column of what config.xml has wrong. Without --bundle the example
    // bundle is looked for beside the executable and in the source tree above it.
    static ns::Result<Options> parseArguments(const std::vector<std::string>& arguments,
                                              const std::string& executablePath);
    static std::optional<std::string> defaultBundlePath(const std::string& executablePath);

    // Bundle, sandbox, log and classes; an error when the bundle or sandbox cannot be used.
    static ns::Status prepare(const Options& options);
    // Starts the application with kDelegateClassName and makes it active; false when the
    // delegate class is missing or the launch was refused.
    static bool launch();
    // prepare() and launch(), then runs the main loop until SIGINT or SIGTERM (or, with
    // exitAfterLoad, the first page load) ends the application. The process's exit status.
    static int run(const Options& options);
};
