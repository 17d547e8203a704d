#include "platform/ns/Bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>

#include "platform/ns/Error.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Locale.h"
#include "platform/ns/Log.h"
#include "platform/ns/PropertyListSerialization.h"

namespace ns {
namespace {

struct MainBundleState {
    dispatch::Mutex mutex;
    std::shared_ptr<Bundle> bundle GUARDED_BY(mutex);
};

MainBundleState& mainState() {
    static auto* s = new MainBundleState;
    return *s;
}

std::string executableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
}

// Names from callers (a page's path among them) stay inside the bundle.
bool safeRelative(std::string_view part) {
    if (part.starts_with('/')) return false;
    while (!part.empty()) {
        auto slash = part.find('/');
        if (part.substr(0, slash) == "..") return false;
        if (slash == std::string_view::npos) break;
        part.remove_prefix(slash + 1);
    }
    return true;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A bundle's Info.plist: empty when there is none, else its dictionary or why it cannot be read
// ("PATH: reason").
Result<Dictionary> readInfoPlist(const std::string& file) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) return Dictionary{};
    auto plist = PropertyListSerialization::readFile(file);
    const auto problem = [&file](const std::string& reason) {
        return Error(kCocoaErrorDomain, kPropertyListReadCorruptError,
                     {{kLocalizedDescriptionKey, file + ": " + reason}});
    };
    if (!plist) {
        // The reader's own words (they say where), rather than its general description.
        const auto& info = plist.error().userInfo();
        const auto reason = info.find(kDebugDescriptionErrorKey);
        return problem(reason != info.end() && reason->second.string()
                           ? *reason->second.string()
                           : plist.error().localizedDescription());
    }
    if (!plist->dictionary()) return problem("not a dictionary");
    return *plist->dictionary();
}

std::string joined(const std::string& base, std::string_view part) {
    if (part.empty()) return base;
    return base + "/" + std::string(part);
}

}  // namespace

std::shared_ptr<Bundle> Bundle::mainBundle() {
    auto& s = mainState();
    dispatch::Lock lock(s.mutex);
    if (!s.bundle) s.bundle = std::make_shared<Bundle>(executableFolder());
    return s.bundle;
}

void Bundle::setMainBundlePath(const std::string& path) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    auto& s = mainState();
    dispatch::Lock lock(s.mutex);
    s.bundle = std::make_shared<Bundle>(absolute);
}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::string& path) {
    bool isDirectory = false;
    if (!FileManager::defaultManager().fileExists(path, &isDirectory) || !isDirectory) {
        return nullptr;
    }
    return std::make_shared<Bundle>(path);
}

Bundle::Bundle(std::string path) : path_(std::move(path)) {}

const Dictionary& Bundle::infoDictionary() const {
    std::call_once(infoOnce_, [this] {
        auto info = readInfoPlist(path_ + "/Info.plist");
        if (info) {
            info_ = std::move(*info);
        } else {
            Log::write(LogLevel::Error,
                       "Ignoring the unreadable " + info.error().localizedDescription());
        }
    });
    return info_;
}

std::optional<std::string> Bundle::infoDictionaryProblem() const {
    auto info = readInfoPlist(path_ + "/Info.plist");
    if (info) return std::nullopt;
    return info.error().localizedDescription();
}

const Value& Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    const auto& info = infoDictionary();
    auto it = info.find(key);
    return it == info.end() ? Value::null() : it->second;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    if (const std::string* id = objectForInfoDictionaryKey("CFBundleIdentifier").string()) {
        return *id;
    }
    return std::nullopt;
}

std::vector<std::string> Bundle::localizationCandidates() {
    std::vector<std::string> names;
    auto add = [&names](std::string name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    };
    for (const auto& tag : Locale::preferredLanguages()) {
        add(tag);
        std::string underscored = tag;
        std::replace(underscored.begin(), underscored.end(), '-', '_');
        add(underscored);
        add(Locale::languageCode(tag));
    }
    add("Base");
    add("en");
    return names;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                   std::string_view directory) const {
    if (name.empty() || !safeRelative(name) || !safeRelative(type) || !safeRelative(directory)) {
        return std::nullopt;
    }
    if (type.starts_with('.')) type.remove_prefix(1);
    std::string file(name);
    if (!type.empty()) file.append(".").append(type);
    std::string folder = joined(path_, directory);
    std::string direct = folder + "/" + file;
    if (exists(direct)) return direct;
    for (const auto& lproj : localizationCandidates()) {
        std::string localized = folder + "/" + lproj + ".lproj/" + file;
        if (exists(localized)) return localized;
    }
    return std::nullopt;
}

std::shared_ptr<const StringsTable> Bundle::stringsTable(const std::string& path) const {
    {
        dispatch::Lock lock(tablesMutex_);
        auto it = tables_.find(path);
        if (it != tables_.end()) return it->second;
    }
    auto table = std::make_shared<const StringsTable>(StringsFile::load(path));
    dispatch::Lock lock(tablesMutex_);
    return tables_.emplace(path, std::move(table)).first->second;
}

std::string Bundle::localizedStringForKey(std::string_view key, std::string_view value,
                                          std::string_view table) const {
    std::string tableFile = std::string(table.empty() ? "Localizable" : table) + ".strings";
    if (safeRelative(tableFile)) {
        for (const auto& lproj : localizationCandidates()) {
            auto strings = stringsTable(path_ + "/" + lproj + ".lproj/" + tableFile);
            auto it = strings->find(key);
            if (it != strings->end()) return it->second;
        }
    }
    return std::string(value.empty() ? key : value);
}

std::string Bundle::description() const {
    return "Bundle <" + path_ + ">";
}

std::string localizedString(std::string_view key) {
    return Bundle::mainBundle()->localizedStringForKey(key);
}

}  // namespace ns
