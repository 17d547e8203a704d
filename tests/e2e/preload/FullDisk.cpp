// Loaded into the host ahead of it (LD_PRELOAD) by the full-disk cases: while the file named by
// HYB_E2E_FULL_DISK_WHILE exists, every change to a SQLite file whose path holds
// HYB_E2E_FULL_DISK (the message store's name, say) fails as on a full disk.

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/SQLiteFileShim.h"

namespace {

class FullDisk : public testsupport::SQLiteFileShim {
public:
    FullDisk(std::string part, std::string flag) : part_(std::move(part)), flag_(std::move(flag)) {}
    bool watches(const char* name) const override {
        return name && std::strstr(name, part_.c_str());
    }
    int willChange(Change) override {
        return ::access(flag_.c_str(), F_OK) == 0 ? SQLITE_FULL : SQLITE_OK;
    }

private:
    const std::string part_;
    const std::string flag_;
};

__attribute__((constructor)) void watchTheDisk() {
    const char* part = ::getenv("HYB_E2E_FULL_DISK");
    const char* flag = ::getenv("HYB_E2E_FULL_DISK_WHILE");
    // Kept for the whole process: the host's stores close after static objects go.
    if (part && *part && flag && *flag) new FullDisk(part, flag);
}

}  // namespace
