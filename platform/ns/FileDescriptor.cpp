#include "platform/ns/FileDescriptor.h"

#include <unistd.h>

namespace ns {

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int FileDescriptor::close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
}

}  // namespace ns
