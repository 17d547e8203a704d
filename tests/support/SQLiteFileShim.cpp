#include "tests/support/SQLiteFileShim.h"

#include <atomic>
#include <cstring>

namespace testsupport {
namespace {

std::atomic<SQLiteFileShim*> current{nullptr};
sqlite3_vfs* systemVfs = nullptr;

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* file) {
    return reinterpret_cast<ShimFile*>(file)->real;
}

int willChange(SQLiteFileShim::Change change) {
    SQLiteFileShim* shim = current.load();
    return shim ? shim->willChange(change) : SQLITE_OK;
}

int shimClose(sqlite3_file* f) {
    return real(f)->pMethods ? real(f)->pMethods->xClose(real(f)) : SQLITE_OK;
}
int shimRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return real(f)->pMethods->xRead(real(f), b, n, o);
}
int shimWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (int rc = willChange(SQLiteFileShim::Change::Write); rc != SQLITE_OK) return rc;
    return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    if (int rc = willChange(SQLiteFileShim::Change::Truncate); rc != SQLITE_OK) return rc;
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shimSync(sqlite3_file* f, int flags) {
    if (int rc = willChange(SQLiteFileShim::Change::Sync); rc != SQLITE_OK) return rc;
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

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    if (SQLiteFileShim* layer = current.load(); layer && !layer->watches(name)) {
        return systemVfs->xOpen(systemVfs, name, file, flags, outFlags);
    }
    auto* shim = reinterpret_cast<ShimFile*>(file);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    std::memset(shim->real, 0, static_cast<size_t>(systemVfs->szOsFile));
    int rc = systemVfs->xOpen(systemVfs, name, shim->real, flags, outFlags);
    shim->base.pMethods = rc == SQLITE_OK ? &kShimMethods : nullptr;
    return rc;
}

int shimDelete(sqlite3_vfs*, const char* name, int syncDir) {
    if (SQLiteFileShim* shim = current.load()) shim->willDelete(name);
    return systemVfs->xDelete(systemVfs, name, syncDir);
}
int shimAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return systemVfs->xAccess(systemVfs, name, flags, out);
}
int shimFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return systemVfs->xFullPathname(systemVfs, name, n, out);
}
int shimRandomness(sqlite3_vfs*, int n, char* out) {
    return systemVfs->xRandomness(systemVfs, n, out);
}
int shimSleep(sqlite3_vfs*, int micros) {
    return systemVfs->xSleep(systemVfs, micros);
}
int shimCurrentTime(sqlite3_vfs*, double* out) {
    return systemVfs->xCurrentTime(systemVfs, out);
}
int shimGetLastError(sqlite3_vfs*, int n, char* out) {
    return systemVfs->xGetLastError ? systemVfs->xGetLastError(systemVfs, n, out) : 0;
}

sqlite3_vfs& shimVfs() {
    static sqlite3_vfs& vfs = *new sqlite3_vfs{};
    return vfs;
}

}  // namespace

SQLiteFileShim::SQLiteFileShim() {
    sqlite3_vfs& vfs = shimVfs();
    if (sqlite3_vfs* found = sqlite3_vfs_find(nullptr); found != &vfs) systemVfs = found;
    vfs.iVersion = 1;
    vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + systemVfs->szOsFile;
    vfs.mxPathname = systemVfs->mxPathname;
    vfs.zName = "test-file-shim";
    vfs.xOpen = shimOpen;
    vfs.xDelete = shimDelete;
    vfs.xAccess = shimAccess;
    vfs.xFullPathname = shimFullPathname;
    vfs.xRandomness = shimRandomness;
    vfs.xSleep = shimSleep;
    vfs.xCurrentTime = shimCurrentTime;
    vfs.xGetLastError = shimGetLastError;
    current = this;
    sqlite3_vfs_register(&vfs, 1);
}

SQLiteFileShim::~SQLiteFileShim() {
    current = nullptr;
    sqlite3_vfs_unregister(&shimVfs());
    sqlite3_vfs_register(systemVfs, 1);
}

}  // namespace testsupport
