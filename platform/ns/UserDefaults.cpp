#include "platform/ns/UserDefaults.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"

namespace ns {
namespace {

// How long a change waits for others before the domain is written.
constexpr dispatch::Duration kFlushDelay = std::chrono::milliseconds(250);

struct Domain {
    Dictionary values;
    bool dirty = false;
};

struct Store {
    dispatch::Mutex mutex;    // guards everything below
    dispatch::Mutex ioMutex;  // one writer at a time, so that files are written in change order
    std::map<std::string, std::shared_ptr<Domain>, std::less<>> domains GUARDED_BY(mutex);
    uint64_t sandboxGeneration GUARDED_BY(mutex) = 0;
    Dictionary registration GUARDED_BY(mutex);
    std::shared_ptr<UserDefaults> standard GUARDED_BY(mutex);
    dispatch::TimerId flushTimer GUARDED_BY(mutex) = 0;
    dispatch::TimePoint flushDeadline GUARDED_BY(mutex);
    // The arguments domain, parsed once per command line rather than on every read.
    std::optional<Dictionary> arguments GUARDED_BY(mutex);
    uint64_t argumentsGeneration GUARDED_BY(mutex) = 0;
};

Store& store() {
    static auto* s = [] {
        auto* created = new Store;  // never destroyed: the exit hook still needs it
        std::atexit([] { UserDefaults::flushAll(); });
        return created;
    }();
    return *s;
}

bool usableDomainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

Dictionary readDomainFile(const std::string& name) {
    std::string path = UserDefaults::preferencesFilePath(name);
    auto data = FileManager::defaultManager().contentsAtPath(path);
    if (!data) {
        if (FileManager::posixErrno(data.error()) != ENOENT) {
            Log::write(LogLevel::Error, "Cannot read the preferences " + path + ": " +
                                            data.error().localizedDescription());
        }
        return {};
    }
    auto plist = PropertyListSerialization::read(*data);
    if (!plist || !plist->isDictionary()) {
        Log::write(LogLevel::Error, "Ignoring the malformed preferences " + path);
        return {};
    }
    return *plist->dictionary();
}

// The domain, read from disk on first use. A new sandbox (configure, reinstall) starts over;
// what was pending for the old one is dropped with it.
std::shared_ptr<Domain> domainLocked(Store& s, std::string_view name) REQUIRES(s.mutex) {
    // A sandbox configured on first use counts from here; once one is, every configuration
    // counts a generation, and asking for the root (a copy of its path) on every read is spared.
    uint64_t generation = Sandbox::generation();
    if (generation == 0) {
        Sandbox::root();
        generation = Sandbox::generation();
    }
    if (generation != s.sandboxGeneration) {
        s.domains.clear();
        s.sandboxGeneration = generation;
    }
    auto it = s.domains.find(name);
    if (it != s.domains.end()) return it->second;
    auto domain = std::make_shared<Domain>();
    domain->values = readDomainFile(std::string(name));
    s.domains.emplace(std::string(name), domain);
    return domain;
}

// "-Key value" pairs of the command line, values as strings.
Dictionary argumentsDomain() {
    Dictionary args;
    auto argv = ProcessInfo::processInfo().arguments();
    for (size_t i = 1; i + 1 < argv.size();) {
        const std::string& arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            args.insert_or_assign(arg.substr(1), Value(argv[i + 1]));
            i += 2;
        } else {
            ++i;
        }
    }
    return args;
}

// The arguments domain of the current command line, parsed again only when it was replaced.
const Dictionary& argumentsDomainLocked(Store& s) REQUIRES(s.mutex) {
    // The generation is read before the arguments: a command line set in between is then
    // parsed again on the next read, never missed.
    const uint64_t generation = ProcessInfo::processInfo().argumentsGeneration();
    if (!s.arguments || s.argumentsGeneration != generation) {
        s.arguments = argumentsDomain();
        s.argumentsGeneration = generation;
    }
    return *s.arguments;
}

bool isPropertyListValue(const Value& value) {
    if (value.isNull()) return false;
    if (const Array* a = value.array()) {
        for (const auto& v : *a) {
            if (!isPropertyListValue(v)) return false;
        }
    }
    if (const Dictionary* d = value.dictionary()) {
        for (const auto& [k, v] : *d) {
            if (!isPropertyListValue(v)) return false;
        }
    }
    return true;
}

bool writeDomain(const std::string& name, const Dictionary& values) {
    std::string path = UserDefaults::preferencesFilePath(name);
    auto& fm = FileManager::defaultManager();
    if (values.empty()) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
        Log::write(LogLevel::Error, "Cannot remove the preferences " + path);
        return false;
    }
    // The file is replaced by a new one, which must keep the old one's backup exclusion.
    bool excluded = fm.fileExists(path) && fm.isExcludedFromBackup(path);
    auto status = PropertyListSerialization::writeFileAtomically(
        path, Value(values), PropertyListSerialization::Format::Binary, 0600);
    if (!status) {
        Log::write(LogLevel::Error, "Cannot write the preferences " + path + ": " +
                                        status.error().localizedDescription());
        return false;
    }
    if (excluded) (void)fm.setExcludedFromBackup(path, true);
    return true;
}

bool flushDomain(Store& s, const std::string& name) {
    dispatch::Lock io(s.ioMutex);
    std::shared_ptr<Domain> domain;
    Dictionary snapshot;
    {
        dispatch::Lock lock(s.mutex);
        if (s.sandboxGeneration != Sandbox::generation()) return true;  // belongs to a gone sandbox
        auto it = s.domains.find(name);
        if (it == s.domains.end() || !it->second->dirty) return true;
        domain = it->second;
        snapshot = domain->values;
        domain->dirty = false;
    }
    if (writeDomain(name, snapshot)) return true;
    dispatch::Lock lock(s.mutex);
    domain->dirty = true;
    return false;
}

// One flush follows the first of a burst of changes by kFlushDelay. The pending timer is
// replaced rather than trusted: one dropped from the run loop must not stop later writes.
void scheduleFlushLocked(Store& s) REQUIRES(s.mutex) {
    auto& loop = dispatch::RunLoop::main();
    auto now = dispatch::Clock::current().now();
    if (s.flushTimer == 0 || !loop.cancel(s.flushTimer)) s.flushDeadline = now + kFlushDelay;
    auto remaining = std::clamp<dispatch::Duration>(s.flushDeadline - now,
                                                    dispatch::Duration::zero(), kFlushDelay);
    // The write itself stays off the main thread.
    s.flushTimer = loop.postAfter(
        remaining, [] { dispatch::Queue::global().async([] { UserDefaults::flushAll(); }); });
}

std::string standardDomainName() {
    std::string name;
    if (auto bundle = Bundle::mainBundle()) name = bundle->bundleIdentifier().value_or("");
    if (!usableDomainName(name)) name = ProcessInfo::processInfo().processName();
    if (!usableDomainName(name)) name = "app";
    return name;
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    auto& s = store();
    {
        dispatch::Lock lock(s.mutex);
        if (s.standard) return s.standard;
    }
    auto created = std::make_shared<UserDefaults>(standardDomainName());
    dispatch::Lock lock(s.mutex);
    if (!s.standard) s.standard = created;
    return s.standard;
}

void UserDefaults::resetStandardUserDefaults() {
    flushAll();
    auto& s = store();
    dispatch::Lock lock(s.mutex);
    s.standard.reset();
}

std::shared_ptr<UserDefaults> UserDefaults::initWithSuiteName(std::string_view suiteName) {
    if (suiteName.empty()) return std::make_shared<UserDefaults>(standardDomainName());
    if (!usableDomainName(suiteName)) return nullptr;
    return std::make_shared<UserDefaults>(std::string(suiteName));
}

Value UserDefaults::objectForKey(std::string_view key) const {
    auto& s = store();
    dispatch::Lock lock(s.mutex);
    const Dictionary& args = argumentsDomainLocked(s);
    if (auto it = args.find(key); it != args.end()) return it->second;
    auto domain = domainLocked(s, domain_);
    if (auto it = domain->values.find(key); it != domain->values.end()) return it->second;
    if (auto it = s.registration.find(key); it != s.registration.end()) return it->second;
    return {};
}

void UserDefaults::setObject(std::string_view key, const Value& value) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    if (!isPropertyListValue(value)) {
        throw Exception(kInvalidArgumentException,
                        "Attempt to insert non-property list object for key " + std::string(key));
    }
    {
        auto& s = store();
        dispatch::Lock lock(s.mutex);
        auto domain = domainLocked(s, domain_);
        domain->values.insert_or_assign(std::string(key), value);
        domain->dirty = true;
        scheduleFlushLocked(s);
    }
    postDidChange();
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    {
        auto& s = store();
        dispatch::Lock lock(s.mutex);
        auto domain = domainLocked(s, domain_);
        auto it = domain->values.find(key);
        if (it == domain->values.end()) return;
        domain->values.erase(it);
        domain->dirty = true;
        scheduleFlushLocked(s);
    }
    postDidChange();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (const std::string* s = v.string()) return *s;
    if (auto b = v.boolean()) return *b ? "1" : "0";
    if (v.isNumber()) return v.stringValue();
    return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    return objectForKey(key).boolValue();
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    return objectForKey(key).integerValue();
}

double UserDefaults::doubleForKey(std::string_view key) const {
    return objectForKey(key).doubleValue();
}

float UserDefaults::floatForKey(std::string_view key) const {
    return static_cast<float>(doubleForKey(key));
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (const Array* a = v.array()) return *a;
    return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (const Dictionary* d = v.dictionary()) return *d;
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (const Data* d = v.data()) return *d;
    return std::nullopt;
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    auto& s = store();
    dispatch::Lock lock(s.mutex);
    for (const auto& [key, value] : defaults) s.registration.insert_or_assign(key, value);
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    Dictionary merged;
    {
        auto& s = store();
        dispatch::Lock lock(s.mutex);
        merged = s.registration;
        for (const auto& [key, value] : domainLocked(s, domain_)->values) {
            merged.insert_or_assign(key, value);
        }
        for (const auto& [key, value] : argumentsDomainLocked(s)) {
            merged.insert_or_assign(key, value);
        }
    }
    return merged;
}

bool UserDefaults::synchronize() {
    return flushDomain(store(), domain_);
}

void UserDefaults::removePersistentDomainForName(std::string_view domainName) {
    if (!usableDomainName(domainName)) return;
    {
        auto& s = store();
        dispatch::Lock lock(s.mutex);
        auto domain = domainLocked(s, domainName);
        domain->values.clear();
        domain->dirty = true;
        scheduleFlushLocked(s);
    }
    postDidChange();
}

void UserDefaults::flushAll() {
    auto& s = store();
    std::vector<std::string> names;
    {
        dispatch::Lock lock(s.mutex);
        for (const auto& [name, domain] : s.domains) {
            if (domain->dirty) names.push_back(name);
        }
    }
    for (const auto& name : names) flushDomain(s, name);
}

std::string UserDefaults::preferencesFilePath(std::string_view domainName) {
    return Sandbox::preferencesDirectory() + "/" + std::string(domainName) + ".plist";
}

std::string UserDefaults::description() const {
    return "<UserDefaults " + domain_ + ">";
}

void UserDefaults::postDidChange() {
    NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification,
                                             shared_from_this());
}

}  // namespace ns
