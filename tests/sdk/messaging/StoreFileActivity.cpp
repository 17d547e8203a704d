#include "tests/sdk/messaging/StoreFileActivity.h"

#include <cstring>

#include "platform/dispatch/RunLoop.h"

namespace messagingtest {

// Our header, then the system's own file object.
struct StoreFileActivity::File {
    sqlite3_file base;
    StoreFileActivity* owner;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    static File* of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
};

namespace {

using File = sqlite3_file;

int close(File* f);
int read(File* f, void* buffer, int n, sqlite3_int64 offset);
int write(File* f, const void* buffer, int n, sqlite3_int64 offset);
int truncate(File* f, sqlite3_int64 size);
int sync(File* f, int flags);
int fileSize(File* f, sqlite3_int64* size);
int lock(File* f, int level);
int unlock(File* f, int level);
int checkReservedLock(File* f, int* out);
int fileControl(File* f, int op, void* arg);
int sectorSize(File* f);
int deviceCharacteristics(File* f);

}  // namespace

StoreFileActivity::StoreFileActivity() : system_(sqlite3_vfs_find(nullptr)) {
    methods_.iVersion = 1;  // no shared memory, no memory mapping: rollback journal only
    methods_.xClose = close;
    methods_.xRead = read;
    methods_.xWrite = write;
    methods_.xTruncate = truncate;
    methods_.xSync = sync;
    methods_.xFileSize = fileSize;
    methods_.xLock = lock;
    methods_.xUnlock = unlock;
    methods_.xCheckReservedLock = checkReservedLock;
    methods_.xFileControl = fileControl;
    methods_.xSectorSize = sectorSize;
    methods_.xDeviceCharacteristics = deviceCharacteristics;

    vfs_.iVersion = 1;
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + system_->szOsFile;
    vfs_.mxPathname = system_->mxPathname;
    vfs_.zName = "store-file-activity";
    vfs_.pAppData = this;
    vfs_.xOpen = open;
    vfs_.xDelete = remove;
    vfs_.xAccess = access;
    vfs_.xFullPathname = fullPathname;
    vfs_.xDlOpen = [](sqlite3_vfs* v, const char* name) {
        return of(v)->system_->xDlOpen(of(v)->system_, name);
    };
    vfs_.xDlError = [](sqlite3_vfs* v, int n, char* out) {
        of(v)->system_->xDlError(of(v)->system_, n, out);
    };
    vfs_.xDlSym = [](sqlite3_vfs* v, void* handle, const char* name) {
        return of(v)->system_->xDlSym(of(v)->system_, handle, name);
    };
    vfs_.xDlClose = [](sqlite3_vfs* v, void* handle) {
        of(v)->system_->xDlClose(of(v)->system_, handle);
    };
    vfs_.xRandomness = [](sqlite3_vfs* v, int n, char* out) {
        return of(v)->system_->xRandomness(of(v)->system_, n, out);
    };
    vfs_.xSleep = [](sqlite3_vfs* v, int us) { return of(v)->system_->xSleep(of(v)->system_, us); };
    vfs_.xCurrentTime = [](sqlite3_vfs* v, double* out) {
        return of(v)->system_->xCurrentTime(of(v)->system_, out);
    };
    vfs_.xGetLastError = [](sqlite3_vfs* v, int n, char* out) {
        return of(v)->system_->xGetLastError ? of(v)->system_->xGetLastError(of(v)->system_, n, out)
                                             : 0;
    };
    sqlite3_vfs_register(&vfs_, 1);
}

StoreFileActivity::~StoreFileActivity() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(system_, 1);
}

StoreFileActivity* StoreFileActivity::of(sqlite3_vfs* vfs) {
    return static_cast<StoreFileActivity*>(vfs->pAppData);
}

int StoreFileActivity::commits(const std::string& name) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& [path, count] : journalsDeleted_) {
        if (path.size() >= name.size() + 8 &&
            path.compare(path.size() - name.size() - 8, std::string::npos, name + "-journal") ==
                0) {
            n += count;
        }
    }
    return n;
}

void StoreFileActivity::reset() {
    mainThreadWrites_ = 0;
    std::lock_guard lock(mutex_);
    journalsDeleted_.clear();
}

void StoreFileActivity::noteWrite() {
    if (dispatch::RunLoop::isMainThread()) ++mainThreadWrites_;
}

int StoreFileActivity::open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                            int* outFlags) {
    auto* self = of(vfs);
    auto* ours = File::of(file);
    ours->owner = self;
    ours->base.pMethods = nullptr;
    int rc = self->system_->xOpen(self->system_, name, ours->real(), flags, outFlags);
    // A file the system could not open has nothing to close.
    if (ours->real()->pMethods) ours->base.pMethods = &self->methods_;
    return rc;
}

int StoreFileActivity::remove(sqlite3_vfs* vfs, const char* name, int syncDir) {
    auto* self = of(vfs);
    if (name && std::strstr(name, "-journal")) {
        std::lock_guard lock(self->mutex_);
        ++self->journalsDeleted_[name];
    }
    return self->system_->xDelete(self->system_, name, syncDir);
}

int StoreFileActivity::access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return of(vfs)->system_->xAccess(of(vfs)->system_, name, flags, out);
}

int StoreFileActivity::fullPathname(sqlite3_vfs* vfs, const char* name, int n, char* out) {
    return of(vfs)->system_->xFullPathname(of(vfs)->system_, name, n, out);
}

namespace {

sqlite3_file* real(File* f) {
    return StoreFileActivity::File::of(f)->real();
}

int close(File* f) {
    return real(f)->pMethods->xClose(real(f));
}
int read(File* f, void* buffer, int n, sqlite3_int64 offset) {
    return real(f)->pMethods->xRead(real(f), buffer, n, offset);
}
int write(File* f, const void* buffer, int n, sqlite3_int64 offset) {
    StoreFileActivity::File::of(f)->owner->noteWrite();
    return real(f)->pMethods->xWrite(real(f), buffer, n, offset);
}
int truncate(File* f, sqlite3_int64 size) {
    StoreFileActivity::File::of(f)->owner->noteWrite();
    return real(f)->pMethods->xTruncate(real(f), size);
}
int sync(File* f, int flags) {
    StoreFileActivity::File::of(f)->owner->noteWrite();
    return real(f)->pMethods->xSync(real(f), flags);
}
int fileSize(File* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int lock(File* f, int level) {
    return real(f)->pMethods->xLock(real(f), level);
}
int unlock(File* f, int level) {
    return real(f)->pMethods->xUnlock(real(f), level);
}
int checkReservedLock(File* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int fileControl(File* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int sectorSize(File* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int deviceCharacteristics(File* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}

}  // namespace

}  // namespace messagingtest
