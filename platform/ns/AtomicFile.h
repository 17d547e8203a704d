#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"

namespace ns {

// Replaces the file at `path` so that a crash at any instant leaves either the old or the new
// contents, never a mix: the bytes go to a new file beside it (same directory, a name of
// TemporaryFiles' pattern), are flushed to disk, and the new file is renamed over the old one.
// On failure the temporary file is removed and the old file is untouched. The file gets
// exactly `mode`, whatever the process's umask, and keeps the old file's extended attributes
// (a backup exclusion among them) and, where the process may set them, its owner and group.
// System errors come back in kPOSIXErrorDomain with errno as the code and the path under
// kFilePathErrorKey.
Status writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0644);
inline Status writeFileAtomically(const std::string& path, const Data& data, mode_t mode = 0644) {
    return writeFileAtomically(path, data.chars(), mode);
}

// The same for the file `name` in the open folder `directory`, so that no path is resolved
// again (see ConfinedFile). Without a `mode`, the new file keeps the old one's permissions
// (0644 for a file that is new). `path` names the file in errors.
Status writeFileAtomicallyAt(int directory, const std::string& name, std::string_view bytes,
                             std::optional<mode_t> mode, const std::string& path);

// The whole contents of a file.
Result<Data> readFile(const std::string& path);

// An error in kPOSIXErrorDomain for errno `code`, its text as the localized description.
Error posixError(int code, const std::string& path = {});

}  // namespace ns
