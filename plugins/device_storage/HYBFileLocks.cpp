#include "plugins/device_storage/HYBFileLocks.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/dispatch/Mutex.h"

struct HYBFileLocks::Guard::Held {
    std::string key;
    dispatch::RecursiveMutex mutex;
    int users = 0;  // guarded by the table's mutex

    // A hold that lock() takes and the Guard's destructor gives back spans two functions,
    // which the thread-safety analysis cannot follow.
    void take() NO_THREAD_SAFETY_ANALYSIS { mutex.lock(); }
    void giveBack() NO_THREAD_SAFETY_ANALYSIS { mutex.unlock(); }
};

namespace {

struct Table {
    dispatch::Mutex mutex;
    std::map<std::string, std::shared_ptr<HYBFileLocks::Guard::Held>> entries GUARDED_BY(mutex);
};

Table& table() {
    static auto* t = new Table;  // file work on background queues may outlive static teardown
    return *t;
}

}  // namespace

HYBFileLocks::Guard::~Guard() {
    auto& t = table();
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        (*it)->giveBack();
        dispatch::Lock lock(t.mutex);
        if (--(*it)->users == 0) t.entries.erase((*it)->key);
    }
}

std::string HYBFileLocks::key(const std::string& path) {
    std::error_code ec;
    auto canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec) return std::filesystem::path(path).lexically_normal().string();
    std::string text = canonical.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

HYBFileLocks::Guard HYBFileLocks::lock(std::vector<std::string> paths) {
    for (auto& path : paths) path = key(path);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    Guard guard;
    auto& t = table();
    for (const auto& path : paths) {
        std::shared_ptr<Guard::Held> entry;
        {
            dispatch::Lock lock(t.mutex);
            auto& slot = t.entries[path];
            if (!slot) {
                slot = std::make_shared<Guard::Held>();
                slot->key = path;
            }
            ++slot->users;
            entry = slot;
        }
        entry->take();
        guard.held_.push_back(std::move(entry));
    }
    return guard;
}

int HYBFileLocks::users(const std::string& path) {
    auto& t = table();
    dispatch::Lock lock(t.mutex);
    auto it = t.entries.find(key(path));
    return it == t.entries.end() ? 0 : it->second->users;
}
