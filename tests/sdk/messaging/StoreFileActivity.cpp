#include "tests/sdk/messaging/StoreFileActivity.h"

#include "platform/dispatch/RunLoop.h"

namespace messagingtest {

int StoreFileActivity::commits(const std::string& name) const {
    const std::string journal = name + "-journal";
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& [path, count] : journalsDeleted_) {
        if (path.ends_with("/" + journal)) n += count;
    }
    return n;
}

void StoreFileActivity::reset() {
    mainThreadWrites_ = 0;
    std::lock_guard lock(mutex_);
    journalsDeleted_.clear();
}

int StoreFileActivity::willChange(Change) {
    if (dispatch::RunLoop::isMainThread()) ++mainThreadWrites_;
    return refusal_;
}

void StoreFileActivity::willDelete(const char* name) {
    const std::string path = name ? name : "";
    if (!path.ends_with("-journal")) return;
    std::lock_guard lock(mutex_);
    ++journalsDeleted_[path];
}

}  // namespace messagingtest
