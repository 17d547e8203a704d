#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Result.h"

namespace ns {

// Opens paths so that what is opened lies beneath one of a set of folders, its areas, however
// the folders below them change meanwhile. A path is resolved from a descriptor of its area in
// the same step that opens it (openat2 beneath the area where the kernel has it, otherwise a
// walk that opens one component at a time without following links), never checked first and
// opened by name afterwards, when another process may have put a symbolic link in its way.
//
// Symbolic links are followed while they lead into an area: a relative one from where it
// stands, an absolute one from the area it names; ".." never climbs above the area it is in.
// Anything else fails with EXDEV, a loop with ELOOP, a NUL in the path with EINVAL. A path
// that names no area as written is matched once more with its links resolved, which only
// decides the area to start from. Errors are FileManager's (errorForErrno); thread-safe.
class ConfinedFile {
public:
    // The areas are absolute folders, trusted as they are spelt (their own links are followed).
    explicit ConfinedFile(std::vector<std::string> areas);

    // What the application may read: the folders of Sandbox::readableFolders().
    static ConfinedFile forReading();
    // What it may change: its container.
    static ConfinedFile forWriting();

    // As open(2) (O_CLOEXEC is added); a last component that is a link is followed unless the
    // flags hold O_NOFOLLOW.
    Result<FileDescriptor> open(const std::string& path, int flags, mode_t mode = 0) const;

    // The folder that holds the path's last component, open for reading (usable with the *at
    // calls, fsync and listing), and that component's name: what a creation, rename or removal
    // of the entry itself works on. With `followLast`, a last component that is a link is
    // followed first, so that the entry is the link's target.
    struct Entry {
        FileDescriptor directory;
        std::string name;
        std::string path;  // as asked, for messages

        DirectoryEntry directoryEntry() const { return {directory.get(), name, path}; }
    };
    Result<Entry> openParent(const std::string& path, bool followLast,
                             FileAccess access = FileAccess::Write) const;

    // One of the application's readable files, opened for reading without waiting (a FIFO
    // without a writer does not block): forReading().open(path, O_RDONLY | O_NONBLOCK).
    static Result<FileDescriptor> openForReading(const std::string& path);

    // A folder and the components of its path as spelt.
    struct Area {
        std::vector<std::string> components;
        std::string path;
    };

private:
    std::vector<Area> areas_;

    friend class ConfinedResolution;
};

}  // namespace ns
