#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

namespace ns {

// Posted (object: the UserDefaults object) after a value or a whole domain changed.
inline constexpr const char* kUserDefaultsDidChangeNotification =
    "NSUserDefaultsDidChangeNotification";

// The application's settings store. A lookup searches, in order: the arguments domain (launch
// arguments "-Key value", as strings), the object's persistent domain, and the registration
// domain, which every object shares. The standard object's persistent domain is named after
// the main bundle's identifier (the process name without one); a suite has its own.
//
// Each persistent domain is the binary property list Library/Preferences/<domain>.plist in the
// sandbox, replaced atomically. Changes reach the disk shortly after they are made while the
// main run loop runs (a burst of changes is written once), on synchronize(), and on flushAll(),
// which the host calls before it exits and which also runs from an exit hook. Usable from any
// thread; values are copied in and out.
class UserDefaults : public Object {
public:
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    // Drops the shared standard object (after writing what is pending); the next call makes a
    // new one, named after the main bundle as it is then.
    static void resetStandardUserDefaults();
    // A named suite; an empty name gives the standard domain. Null for a name that is no
    // file name ("/", ".", ".." or a NUL in it).
    static std::shared_ptr<UserDefaults> initWithSuiteName(std::string_view suiteName);

    const std::string& domainName() const { return domain_; }

    // Null when absent.
    Value objectForKey(std::string_view key) const;
    // Null removes. Throws ns::Exception (NSInvalidArgumentException) for a value that a
    // property list cannot hold (a null inside a collection).
    void setObject(std::string_view key, const Value& value);
    void removeObjectForKey(std::string_view key);
    void setBool(std::string_view key, bool value) { setObject(key, Value(value)); }
    void setInteger(std::string_view key, int64_t value) { setObject(key, Value(value)); }
    void setDouble(std::string_view key, double value) { setObject(key, Value(value)); }

    // Typed reads with the platform's conversions. Strings as they are, numbers (and booleans)
    // as their text; otherwise none.
    std::optional<std::string> stringForKey(std::string_view key) const;
    // Booleans, numbers and strings by their boolValue/integerValue/doubleValue; else 0 / NO.
    bool boolForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const;
    // Only values of that kind.
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;

    // Adds to the registration domain (the defaults used when no other domain has the key).
    void registerDefaults(const Dictionary& defaults);
    // What the object sees: registration, then persistent, then arguments domain on top.
    Dictionary dictionaryRepresentation() const;

    // Writes the object's domain now if it changed; false when the write failed.
    bool synchronize();
    // Empties the named persistent domain (the file goes with the next write).
    void removePersistentDomainForName(std::string_view domainName);

    // Writes every changed domain now.
    static void flushAll();
    // Library/Preferences/<domain>.plist in the current sandbox.
    static std::string preferencesFilePath(std::string_view domainName);

    std::string description() const override;

    explicit UserDefaults(std::string domain) : domain_(std::move(domain)) {}

private:
    void postDidChange();

    std::string domain_;
};

}  // namespace ns
