#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Object.h"
#include "platform/ns/StringsFile.h"
#include "platform/ns/Value.h"

namespace ns {

// A folder of read-only resources: the application bundle, or a resource bundle inside it.
// Usable from any thread.
class Bundle : public Object {
public:
    // The application bundle: the folder the host names, else the program's own folder.
    static std::shared_ptr<Bundle> mainBundle();
    static void setMainBundlePath(const std::string& path);
    // A bundle for an existing folder; null otherwise.
    static std::shared_ptr<Bundle> bundleWithPath(const std::string& path);

    explicit Bundle(std::string path);

    const std::string& bundlePath() const { return path_; }
    // Info.plist (XML or binary); empty when it is missing or unreadable.
    const Dictionary& infoDictionary() const;
    // Why the bundle's Info.plist cannot be read, as "PATH: reason" (the reason says where in
    // the file when it can): a file that cannot be opened, a malformed property list, or one
    // that is not a dictionary. Nothing when it can be read, or when the bundle has none.
    std::optional<std::string> infoDictionaryProblem() const;
    const Value& objectForInfoDictionaryKey(std::string_view key) const;
    // "CFBundleIdentifier" when it is a string.
    std::optional<std::string> bundleIdentifier() const;

    // The path of `name` with the extension `type` (may be empty or start with ".") in the
    // folder `directory` of the bundle, or in one of its localization folders (<lang>.lproj)
    // for the preferred languages. Null when absent, and for a name, type or folder that is
    // absolute or holds a ".." component.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type,
                                               std::string_view directory = {}) const;

    // From <lang>.lproj/<table>.strings ("Localizable" for an empty table) for the preferred
    // languages, then "Base" and "en"; else `value` when it is not empty, else the key.
    std::string localizedStringForKey(std::string_view key, std::string_view value = {},
                                      std::string_view table = {}) const;

    // The localization folder names to try, best first.
    static std::vector<std::string> localizationCandidates();

    std::string description() const override;

private:
    std::shared_ptr<const StringsTable> stringsTable(const std::string& path) const;

    std::string path_;
    mutable std::once_flag infoOnce_;
    mutable Dictionary info_;
    mutable dispatch::Mutex tablesMutex_;
    mutable std::map<std::string, std::shared_ptr<const StringsTable>> tables_
        GUARDED_BY(tablesMutex_);
};

// The main bundle's localized string for the key, from its default table.
std::string localizedString(std::string_view key);

}  // namespace ns
