#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/Result.h"

namespace ns {

// The hidden files that whole-file rewrites and moves between volumes fill beside their target
// before renaming them over it: ".<name>.tmp-XXXXXX", the name cut to 200 bytes so that the
// whole fits a file name, six letters or digits at the end. A process that dies in the middle
// of one (a kill, a crash, a shutdown that does not wait for its background work) leaves it
// behind; the host removes such leftovers when it starts and when it shuts down.
class TemporaryFiles {
public:
    struct Created {
        FileDescriptor file;
        std::string name;
    };
    // A new, empty, private (0600) file of the pattern for `fileName` in the open folder,
    // created exclusively and opened for writing. Errors carry errno (kPOSIXErrorDomain).
    static Result<Created> create(int directory, std::string_view fileName);
    // A name of the pattern for `fileName` that does not exist yet in the folder, for a
    // temporary folder (a move between volumes copies a whole tree under it).
    static std::string nameFor(std::string_view fileName);

    static bool isTemporaryName(std::string_view name);

    // Removes every entry of the pattern below the folder (a folder of the pattern with all it
    // holds), without following links; answers how many went. Meant for when no rewrite of
    // this process is under way: at launch, before anything writes, and at shutdown.
    static size_t removeStale(const std::string& root);
};

}  // namespace ns
