#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Error.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

// The host's command line: what each option takes and sets, checked as far as can be without
// starting anything, and the usage and help that list them.
class HostArguments {
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
        // switched off), handed over by the composition root as the process's launch
        // arguments; when empty, those are left alone. The host's own options are not among
        // them.
        std::vector<std::string> launchArguments = {};
        // Products bought once the application observes the store (StorePurchases).
        std::vector<std::string> purchases = {};
    };

    // "usage: hybrid-host" and every option in the form it takes; the help lists the same
    // forms, one line each.
    static std::string usage();
    // usage() and one line for each option.
    static std::string helpText();

    // Codes of parse's errors: an argument at fault, or a bundle whose config.xml or
    // Info.plist cannot be read.
    static constexpr int kArgumentErrorCode = 1;
    static constexpr int kConfigurationErrorCode = 2;
    // The options of the command line (without the program name). An error's description is
    // one line that names the argument at fault, the file, line and column of what config.xml
    // has wrong, or Info.plist and why it cannot be read (a bundle without one is not wrong).
    // Without --bundle the example bundle is looked for beside the executable and in the
    // source tree above it.
    static ns::Result<Options> parse(const std::vector<std::string>& arguments,
                                     const std::string& executablePath);
    static std::optional<std::string> defaultBundlePath(const std::string& executablePath);

    // An argument error: one line (the log would show a line break as "\n").
    static ns::Error usageError(const std::string& problem);
    // A folder with a config.xml and a www folder.
    static bool isBundle(const std::filesystem::path& folder);
    // "--camera page:FILE": what the page writes to its temporary folder, else FILE.
    static constexpr std::string_view kPageCameraPrefix = "page:";
};
