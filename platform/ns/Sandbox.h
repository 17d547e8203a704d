#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ns/Result.h"

namespace ns {

// The persistent sandbox of the one installed application: a folder DIR holding the app's
// Container (Documents, Library, Library/Caches, Library/Application Support,
// Library/Preferences, tmp) and, beside it, the Keychain, which outlives a reinstall as on the
// phone. Paths carry no trailing "/" except temporaryDirectory(). Usable from any thread.
class Sandbox {
public:
    // Uses DIR (the host's --sandbox) and creates the layout; tmp, Container and Keychain get
    // mode 0700. Without a call, the first accessor configures defaultRoot().
    static Status configure(const std::string& root);
    // $XDG_DATA_HOME/hybrid-host/<bundle id>, else ~/.local/share/hybrid-host/<bundle id>; the
    // process name stands in for a missing or unusable bundle identifier.
    static std::string defaultRoot();
    static bool isConfigured();

    static std::string root();
    static std::string homeDirectory();  // DIR/Container
    static std::string documentsDirectory();
    static std::string libraryDirectory();
    static std::string cachesDirectory();
    static std::string applicationSupportDirectory();
    static std::string preferencesDirectory();
    static std::string temporaryDirectory();  // ends with "/"
    static std::string keychainDirectory();   // DIR/Keychain
    // The application bundle (read-only; the host sets it through Bundle::setMainBundlePath).
    static std::string bundleDirectory();

    // True when the path, with symbolic links of its existing part resolved, is the container
    // or lies below it; for callers that must refuse writes anywhere else.
    static bool isInsideContainer(const std::string& path);

    // What the application may read, as a phone's own sandbox would let it: its container,
    // its bundle and the system's read-only folders (/etc, /usr and the program and library
    // folders); never the keychain, the user's other files, other applications' sandboxes or
    // the kernel's /proc, /sys and /dev. Links of the existing part are resolved first, so a
    // link cannot lead out.
    static bool isReadable(const std::string& path);
    // Readable, or a folder on the way to a readable one ("/", the folders above the
    // container), so that a walk from "/" reaches what is readable; such a folder's listing
    // shows only the names that are themselves reachable.
    static bool isReachable(const std::string& path);
    // The folders isReadable allows: the system's (links resolved), the container and the
    // bundle (as configured, cheap to ask for).
    static std::vector<std::string> readableFolders();

    // Wipes the Container as deleting and reinstalling the app would; the Keychain stays.
    static Status simulateReinstall();

    // Changes whenever configure() or simulateReinstall() replaces what the paths hold, so that
    // caches of file contents (user defaults) know to start again.
    static uint64_t generation();
};

}  // namespace ns
