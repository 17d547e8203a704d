#include "platform/ns/Sandbox.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"

namespace ns {
namespace {

namespace fs = std::filesystem;

struct SandboxState {
    dispatch::Mutex mutex;
    std::string root GUARDED_BY(mutex);  // empty until configured
    std::atomic<uint64_t> generation{0};
};

SandboxState& state() {
    static auto* s = new SandboxState;
    return *s;
}

const char* const kContainerFolders[] = {
    "Documents",           "Library", "Library/Caches", "Library/Application Support",
    "Library/Preferences", "tmp",
};

Status createLayout(const std::string& root) {
    auto& fm = FileManager::defaultManager();
    Dictionary privateDir{{kFilePosixPermissions, 0700}};
    std::string container = root + "/Container";
    if (auto s = fm.createDirectory(container, true, privateDir); !s) return s;
    ::chmod(container.c_str(), 0700);
    for (const char* folder : kContainerFolders) {
        if (auto s = fm.createDirectory(container + "/" + folder, true); !s) return s;
    }
    // Other users must not read or plant files in tmp.
    ::chmod((container + "/tmp").c_str(), 0700);
    std::string keychain = root + "/Keychain";
    if (auto s = fm.createDirectory(keychain, true, privateDir); !s) return s;
    ::chmod(keychain.c_str(), 0700);
    return {};
}

// A folder name that cannot climb out of the data directory.
bool usableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string configuredRoot() {
    auto& s = state();
    {
        dispatch::Lock lock(s.mutex);
        if (!s.root.empty()) return s.root;
    }
    std::string root = Sandbox::defaultRoot();
    if (auto status = Sandbox::configure(root); !status) {
        Log::write(LogLevel::Error, "Cannot create the sandbox at " + root + ": " +
                                        status.error().localizedDescription());
    }
    dispatch::Lock lock(s.mutex);
    return s.root;
}

std::string inContainer(const char* folder) {
    return configuredRoot() + "/Container/" + folder;
}

}  // namespace

Status Sandbox::configure(const std::string& root) {
    std::error_code ec;
    std::string absolute = fs::absolute(root, ec).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    auto& s = state();
    dispatch::Lock lock(s.mutex);
    // The paths stay usable even when the folders cannot be made; the error says why.
    s.root = absolute;
    s.generation.fetch_add(1);
    return createLayout(absolute);
}

std::string Sandbox::defaultRoot() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.local/share";
    }
    std::string name;
    if (auto bundle = Bundle::mainBundle()) name = bundle->bundleIdentifier().value_or("");
    if (!usableName(name)) name = ProcessInfo::processInfo().processName();
    if (!usableName(name)) name = "app";
    return base + "/hybrid-host/" + name;
}

bool Sandbox::isConfigured() {
    auto& s = state();
    dispatch::Lock lock(s.mutex);
    return !s.root.empty();
}

std::string Sandbox::root() {
    return configuredRoot();
}
std::string Sandbox::homeDirectory() {
    return configuredRoot() + "/Container";
}
std::string Sandbox::documentsDirectory() {
    return inContainer("Documents");
}
std::string Sandbox::libraryDirectory() {
    return inContainer("Library");
}
std::string Sandbox::cachesDirectory() {
    return inContainer("Library/Caches");
}
std::string Sandbox::applicationSupportDirectory() {
    return inContainer("Library/Application Support");
}
std::string Sandbox::preferencesDirectory() {
    return inContainer("Library/Preferences");
}
std::string Sandbox::temporaryDirectory() {
    return inContainer("tmp/");
}
std::string Sandbox::keychainDirectory() {
    return configuredRoot() + "/Keychain";
}

std::string Sandbox::bundleDirectory() {
    auto bundle = Bundle::mainBundle();
    return bundle ? bundle->bundlePath() : std::string();
}

bool Sandbox::isInsideContainer(const std::string& path) {
    std::error_code ec;
    fs::path container = fs::weakly_canonical(homeDirectory(), ec);
    if (ec) return false;
    fs::path full = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return false;
    auto rel = full.lexically_relative(container);
    return !rel.empty() && *rel.begin() != "..";
}

namespace {

fs::path resolved(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) return {};
    fs::path full = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : full;
}

// `path` is `dir` or lies below it; both resolved.
bool isAtOrBelow(const fs::path& path, const fs::path& dir) {
    auto rel = path.lexically_relative(dir);
    return !rel.empty() && *rel.begin() != "..";
}

const std::vector<fs::path>& systemFolders() {
    static const auto* folders = [] {
        auto* out = new std::vector<fs::path>;
        for (const char* dir :
             {"/etc", "/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
            std::error_code ec;
            if (fs::exists(dir, ec)) out->push_back(resolved(dir));
        }
        return out;
    }();
    return *folders;
}

std::vector<fs::path> readableRoots() {
    std::vector<fs::path> roots = systemFolders();
    roots.push_back(resolved(Sandbox::homeDirectory()));
    if (std::string bundle = Sandbox::bundleDirectory(); !bundle.empty()) {
        roots.push_back(resolved(bundle));
    }
    return roots;
}

bool isForbidden(const fs::path& path) {
    for (const char* dir : {"/proc", "/sys", "/dev"}) {
        if (isAtOrBelow(path, dir)) return true;
    }
    return isAtOrBelow(path, resolved(Sandbox::keychainDirectory()));
}

}  // namespace

bool Sandbox::isReadable(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    const fs::path full = resolved(path);
    if (full.empty() || isForbidden(full)) return false;
    for (const auto& root : readableRoots()) {
        if (isAtOrBelow(full, root)) return true;
    }
    return false;
}

bool Sandbox::isReachable(const std::string& path) {
    if (isReadable(path)) return true;
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    const fs::path full = resolved(path);
    if (full.empty() || isForbidden(full)) return false;
    for (const auto& root : readableRoots()) {
        if (isAtOrBelow(root, full)) return true;
    }
    return false;
}

std::vector<std::string> Sandbox::readableFolders() {
    std::vector<std::string> out;
    for (const auto& folder : systemFolders()) out.push_back(folder.string());
    out.push_back(homeDirectory());
    if (std::string bundle = bundleDirectory(); !bundle.empty()) out.push_back(bundle);
    return out;
}

Status Sandbox::simulateReinstall() {
    std::string root = configuredRoot();
    auto& s = state();
    dispatch::Lock lock(s.mutex);
    s.generation.fetch_add(1);
    std::string container = root + "/Container";
    if (FileManager::defaultManager().fileExists(container)) {
        if (auto status = FileManager::defaultManager().removeItem(container); !status) {
            return status;
        }
    }
    return createLayout(root);
}

uint64_t Sandbox::generation() {
    return state().generation.load();
}

}  // namespace ns
