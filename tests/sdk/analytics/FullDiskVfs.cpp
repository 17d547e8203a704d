#include "tests/sdk/analytics/FullDiskVfs.h"

#include <cstring>

namespace analyticstest {

std::atomic<bool> FullDiskVfs::full_{false};

namespace {

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* file) {
    return reinterpret_cast<ShimFile*>(file)->real;
}

int shimClose(sqlite3_file* f) {
    int rc = real(f)->pMethods ? real(f)->pMethods->xClose(real(f)) : SQLITE_OK;
    return rc;
}
int shimRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return real(f)->pMethods->xRead(real(f), b, n, o);
}
int shimWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (FullDiskVfs::full_) return SQLITE_FULL;
    return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shimSync(sqlite3_file* f, int flags) {
    return real(f)->pMethods->xSync(real(f), flags);
}
int shimFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int shimLock(sqlite3_file* f, int lock) {
    return real(f)->pMethods->xLock(real(f), lock);
}
int shimUnlock(sqlite3_file* f, int lock) {
    return real(f)->pMethods->xUnlock(real(f), lock);
}
int shimCheckReservedLock(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int shimFileControl(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int shimSectorSize(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int shimDeviceCharacteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}

// Version 1: no shared memory and no memory mapping, which a rollback journal does not need.
const sqlite3_io_methods kShimMethods = {
    1,
    shimClose,
    shimRead,
    shimWrite,
    shimTruncate,
    shimSync,
    shimFileSize,
    shimLock,
    shimUnlock,
    shimCheckReservedLock,
    shimFileControl,
    shimSectorSize,
    shimDeviceCharacteristics,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

sqlite3_vfs* baseVfs = nullptr;

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(file);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    std::memset(shim->real, 0, static_cast<size_t>(baseVfs->szOsFile));
    int rc = baseVfs->xOpen(baseVfs, name, shim->real, flags, outFlags);
    shim->base.pMethods = rc == SQLITE_OK ? &kShimMethods : nullptr;
    return rc;
}

int shimDelete(sqlite3_vfs*, const char* name, int syncDir) {
    return baseVfs->xDelete(baseVfs, name, syncDir);
}
int shimAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return baseVfs->xAccess(baseVfs, name, flags, out);
}
int shimFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return baseVfs->xFullPathname(baseVfs, name, n, out);
}
int shimRandomness(sqlite3_vfs*, int n, char* out) {
    return baseVfs->xRandomness(baseVfs, n, out);
}
int shimSleep(sqlite3_vfs*, int micros) {
    return baseVfs->xSleep(baseVfs, micros);
}
int shimCurrentTime(sqlite3_vfs*, double* out) {
    return baseVfs->xCurrentTime(baseVfs, out);
}
int shimGetLastError(sqlite3_vfs*, int n, char* out) {
    return baseVfs->xGetLastError ? baseVfs->xGetLastError(baseVfs, n, out) : 0;
}

// The shim itself lives as long as the process: a store opened through it keeps calling it
// until the store is closed, which the engine's fixture does after the test's own scope, and so
// after this object, has ended.
sqlite3_vfs& shimVfs() {
    static sqlite3_vfs& vfs = *new sqlite3_vfs{};
    return vfs;
}

}  // namespace

FullDiskVfs::FullDiskVfs() {
    base_ = sqlite3_vfs_find(nullptr);
    baseVfs = base_;
    sqlite3_vfs& vfs = shimVfs();
    vfs.iVersion = 1;
    vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + base_->szOsFile;
    vfs.mxPathname = base_->mxPathname;
    vfs.zName = "analytics-full-disk";
    vfs.xOpen = shimOpen;
    vfs.xDelete = shimDelete;
    vfs.xAccess = shimAccess;
    vfs.xFullPathname = shimFullPathname;
    vfs.xRandomness = shimRandomness;
    vfs.xSleep = shimSleep;
    vfs.xCurrentTime = shimCurrentTime;
    vfs.xGetLastError = shimGetLastError;
    full_ = false;
    sqlite3_vfs_register(&vfs, 1);
}

FullDiskVfs::~FullDiskVfs() {
    full_ = false;
    sqlite3_vfs_unregister(&shimVfs());
    sqlite3_vfs_register(base_, 1);
}

}  // namespace analyticstest
