#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"

namespace ns {

// Replaces the file at `path` so that a crash at any instant leaves either the old or the new
// contents, never a mix: the bytes go to a new file beside it (same directory, unique name),
// are flushed to disk, and the new file is renamed over the old one. On failure the temporary
// file is removed and the old file is untouched. The file gets exactly `mode`, whatever the
// process's umask. System errors come back in kPOSIXErrorDomain with errno as the code and the
// path under kFilePathErrorKey.
Status writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0644);
inline Status writeFileAtomically(const std::string& path, const Data& data, mode_t mode = 0644) {
    return writeFileAtomically(path, data.chars(), mode);
}

// The whole contents of a file.
Result<Data> readFile(const std::string& path);

// An error in kPOSIXErrorDomain for errno `code`, its text as the localized description.
Error posixError(int code, const std::string& path = {});

}  // namespace ns
