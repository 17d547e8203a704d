#pragma once

#include <sqlite3.h>

namespace testsupport {

// A SQLite file layer over the system's own, the default one while an object of this class
// exists: every file opened meanwhile is read and written through it, and the object hears of
// (and may refuse) each change made to a file and each file deleted. One at a time. The layer
// itself lives as long as the process: a store opened through it may close after the object is
// gone, and its calls then go straight through.
class SQLiteFileShim {
public:
    enum class Change { Write, Truncate, Sync };

    SQLiteFileShim();
    virtual ~SQLiteFileShim();
    SQLiteFileShim(const SQLiteFileShim&) = delete;
    SQLiteFileShim& operator=(const SQLiteFileShim&) = delete;

    // On the thread that makes the change; a code other than SQLITE_OK fails it.
    virtual int willChange(Change /*change*/) { return SQLITE_OK; }
    // Whether the file opened by this name goes through the layer; others (null: a temporary
    // file) go straight to the system's, with all it offers (shared memory among them).
    virtual bool watches(const char* /*name*/) const { return true; }
    virtual void willDelete(const char* /*name*/) {}
};

}  // namespace testsupport
