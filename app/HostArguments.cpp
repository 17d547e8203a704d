#include "app/HostArguments.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "app/PushLaunchNotifications.h"
#include "app/StorePurchases.h"
#include "bridge/HYBConfigParser.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/ImageCodec.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/core/NEBCoreLogger.h"

namespace {

namespace fs = std::filesystem;
using Options = HostArguments::Options;

constexpr const char* kErrorDomain = "HybridHostErrorDomain";

// "17", "17.0" or "17.0.1".
bool isVersion(const std::string& text) {
    const std::vector<std::string_view> parts = ns::componentsSeparatedByCharacter(text, '.');
    if (parts.size() > 3) return false;
    for (std::string_view part : parts) {
        if (part.empty() || part.size() > 9 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
    }
    return true;
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// "tone:HZ" with a positive frequency, "wav:FILE" naming a file, "alsa:DEVICE", or "none".
bool isMicrophoneSource(const std::string& spec) {
    if (spec == "none") return true;
    if (spec.starts_with("wav:")) return isRegularFile(spec.substr(4));
    if (spec.starts_with("alsa:")) return spec.size() > 5;
    if (!spec.starts_with("tone:")) return false;
    char* end = nullptr;
    const double hz = std::strtod(spec.c_str() + 5, &end);
    return end && *end == '\0' && end != spec.c_str() + 5 && std::isfinite(hz) && hz > 0;
}

// Larger files are not taken for photos (nor read whole to find out).
constexpr uintmax_t kMaxPhotoBytes = 64u << 20;

// A file of photo size that decodes as a PNG or JPEG picture.
bool isPicture(const std::string& path) {
    std::error_code ec;
    if (!isRegularFile(path) || fs::file_size(path, ec) > kMaxPhotoBytes || ec) return false;
    auto bytes = ns::readFile(path);
    return bytes.ok() && ui::ImageCodec::decode(bytes.value()) != nullptr;
}

// Checks an option's value and sets what it sets: why the value is refused, or nothing. A
// switch is given no value.
using Refusal = std::optional<std::string>;
using Setter = Refusal (*)(Options& options, std::string_view name, const std::string& value);

struct Option {
    std::string_view name;
    // What the option's value is, for the error that says it is missing; null for a switch.
    const char* takes;
    Setter set;
    // The option as the usage and the help show it: its name and the forms of its value.
    const char* form;
    // What it does, after the form in the help.
    const char* help;
};

Refusal setBundle(Options& options, std::string_view, const std::string& value) {
    if (!HostArguments::isBundle(value)) return "not a bundle (config.xml and www/)";
    options.bundlePath = value;
    return std::nullopt;
}

Refusal setSandbox(Options& options, std::string_view, const std::string& value) {
    std::error_code ec;
    if (fs::exists(value, ec) && !fs::is_directory(value, ec)) return "not a folder";
    options.sandboxPath = value;
    return std::nullopt;
}

Refusal setSystemVersion(Options& options, std::string_view, const std::string& value) {
    if (!isVersion(value)) return "not a version such as 17.0";
    options.systemVersion = value;
    return std::nullopt;
}

Refusal setExitAfterLoad(Options& options, std::string_view, const std::string&) {
    options.exitAfterLoad = true;
    return std::nullopt;
}

Refusal setMicrophone(Options& options, std::string_view, const std::string& value) {
    if (!isMicrophoneSource(value))
        return "neither tone:HZ, wav: and a file, nor alsa: and a device";
    options.microphone = value;
    return std::nullopt;
}

Refusal setCamera(Options& options, std::string_view, const std::string& value) {
    std::error_code ec;
    if (value.starts_with(HostArguments::kPageCameraPrefix)) {
        if (!isRegularFile(value.substr(HostArguments::kPageCameraPrefix.size())))
            return "no such image or video file after page:";
    } else if (!isRegularFile(value) && !fs::is_directory(value, ec) &&
               !(value.starts_with("/dev/video") && fs::is_character_file(value, ec))) {
        return "no such file, folder or video device";
    }
    options.camera = value;
    return std::nullopt;
}

Refusal addPhoto(Options& options, std::string_view, const std::string& value) {
    if (fs::path(value).filename().string().starts_with(".")) return "a hidden file is not a photo";
    if (!isPicture(value)) return "not a PNG or JPEG picture of at most 64 MiB";
    options.photos.push_back(value);
    return std::nullopt;
}

Refusal addNotification(Options& options, std::string_view name, const std::string& value) {
    auto payload = PushLaunchNotifications::readPayload(value);
    if (!payload) return payload.error().localizedDescription();
    (name == "--open-notification" ? options.openedNotifications : options.remoteNotifications)
        .push_back(std::move(*payload));
    return std::nullopt;
}

Refusal addPurchase(Options& options, std::string_view, const std::string& value) {
    if (auto valid = StorePurchases::checkProductIdentifier(value); !valid)
        return valid.error().localizedDescription();
    options.purchases.push_back(value);
    return std::nullopt;
}

// The SDK reads its own switches from the launch arguments.
Refusal passToSDK(Options& options, std::string_view name, const std::string&) {
    options.launchArguments.emplace_back(name);
    return std::nullopt;
}

Refusal setHelp(Options& options, std::string_view, const std::string&) {
    options.help = true;
    return std::nullopt;
}

// In the order the usage and the help list them. The forms are the values each setter takes.
constexpr std::array<Option, 15> kOptions{{
    {"--bundle", "a folder", setBundle, "--bundle DIR",
     "the bundle to run (default: examples/bundle, found beside or above the program)"},
    {"--sandbox", "a folder", setSandbox, "--sandbox DIR",
     "the application's persistent data (default: $XDG_DATA_HOME/hybrid-host/<bundle "
     "identifier>)"},
    {"--system-version", "a version", setSystemVersion, "--system-version X.Y",
     "the system version the device reports (default: 17.0)"},
    {"--exit-after-load", nullptr, setExitAfterLoad, "--exit-after-load",
     "leave once the start page has loaded"},
    {"--microphone", "a source", setMicrophone, "--microphone tone:HZ|wav:FILE|alsa:DEVICE|none",
     "what the microphone hears: a tone, a WAV file or a sound card, or that there is none "
     "(default: the machine's, else a 440 Hz tone)"},
    {"--camera", "a file or folder", setCamera, "--camera FILE|DIR|/dev/videoN|page:FILE",
     "what the camera sees: an image, a video, the newest image in a folder, a video device, or "
     "the newest image the page wrote to its temporary folder and FILE while there is none "
     "(default: the machine's first, if any)"},
    {"--add-photo", "a picture", addPhoto, "--add-photo FILE",
     "a PNG or JPEG picture put into the photo library, unless it is there already "
     "(repeatable)"},
    {"--remote-notification", "a JSON file", addNotification, "--remote-notification FILE.json",
     "a push notification arriving once the page is ready for pushes (repeatable)"},
    {"--open-notification", "a JSON file", addNotification, "--open-notification FILE.json",
     "a push notification the user opened, which launched the application (repeatable)"},
    {"--complete-purchase", "a product identifier", addPurchase, "--complete-purchase PRODUCT_ID",
     "a purchase of the product (sold by the stand-in store at 0.99 USD) completes once the "
     "application observes the store (repeatable)"},
    {kNEBADebugEnabledArgument, nullptr, passToSDK, kNEBADebugEnabledArgument,
     "analytics debug mode on: verbose analytics log, events marked as debug and real-time; "
     "stays on in later runs"},
    {kNEBADebugDisabledArgument, nullptr, passToSDK, kNEBADebugDisabledArgument,
     "analytics debug mode off (wins over the above)"},
    {kNEBDebugEnabledArgument, nullptr, passToSDK, kNEBDebugEnabledArgument,
     "SDK core debug logging on; stays on in later runs"},
    {kNEBDebugDisabledArgument, nullptr, passToSDK, kNEBDebugDisabledArgument,
     "SDK core debug logging off (wins over the above)"},
    {"--help", nullptr, setHelp, "--help", "print this help and leave"},
}};

const Option* optionNamed(std::string_view name) {
    auto found = std::find_if(kOptions.begin(), kOptions.end(),
                              [name](const Option& option) { return option.name == name; });
    return found == kOptions.end() ? nullptr : &*found;
}

// A file of the bundle that the host cannot start on: `problem` names it and says why.
ns::Error bundleError(const std::string& problem) {
    return ns::Error(kErrorDomain, HostArguments::kConfigurationErrorCode,
                     {{ns::kLocalizedDescriptionKey, problem}});
}

}  // namespace

ns::Error HostArguments::usageError(const std::string& problem) {
    return ns::Error(kErrorDomain, kArgumentErrorCode, {{ns::kLocalizedDescriptionKey, problem}});
}

bool HostArguments::isBundle(const std::filesystem::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / "config.xml", ec) && fs::is_directory(folder / "www", ec);
}

std::optional<std::string> HostArguments::defaultBundlePath(const std::string& executablePath) {
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

std::string HostArguments::usage() {
    std::string text = "usage: hybrid-host";
    for (const Option& option : kOptions) text.append(" [").append(option.form).append("]");
    return text;
}

std::string HostArguments::helpText() {
    // The descriptions start in one column; a form that reaches it is followed by two spaces.
    constexpr size_t kColumn = 31;
    std::string text =
        usage() + "\n" +
        "Runs a web application bundle (config.xml, www/, Info.plist) in a window.\n";
    for (const Option& option : kOptions) {
        const std::string_view form(option.form);
        text.append("  ").append(form);
        text.append(form.size() + 2 <= kColumn ? kColumn - form.size() : 2, ' ');
        text.append(option.help).append("\n");
    }
    return text;
}

ns::Result<HostArguments::Options> HostArguments::parse(const std::vector<std::string>& arguments,
                                                        const std::string& executablePath) {
    Options options;
    // Help wins over everything else, mistakes included.
    for (const std::string& argument : arguments) {
        if (argument != "--help" && argument != "-h") continue;
        options.help = true;
        return options;
    }
    options.launchArguments = {executablePath};
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const Option* option = optionNamed(argument);
        if (!option) return usageError("unknown argument " + argument);
        if (!option->takes) {
            option->set(options, option->name, {});
            continue;
        }
        if (i + 1 >= arguments.size()) return usageError(argument + " needs " + option->takes);
        const std::string& value = arguments[++i];
        if (auto refused = option->set(options, option->name, value))
            return usageError(argument + " " + value + ": " + *refused);
    }
    if (options.bundlePath.empty()) {
        auto found = defaultBundlePath(executablePath);
        if (!found) return usageError("no bundle found; name one with --bundle");
        options.bundlePath = *found;
    }
    // The host would run on a config.xml it cannot read with no plug-in and its page served
    // from files, and say so only among its start-up lines; on an Info.plist it cannot read
    // without the bundle's identity, its data in a folder that is no application's.
    if (auto problem =
            HYBConfigParser::problemReading((fs::path(options.bundlePath) / "config.xml").string()))
        return bundleError(*problem);
    if (auto problem = ns::Bundle(options.bundlePath).infoDictionaryProblem())
        return bundleError(*problem);
    return options;
}
