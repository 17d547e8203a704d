#include "tests/support/VirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

bool VirtualDisplay::start() {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    // The server writes the display's number to the pipe once it accepts connections.
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(ready[0]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        const std::string fd = std::to_string(ready[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ready[1]);
    std::string number;
    pollfd fd{ready[0], POLLIN, 0};
    char c = 0;
    while (::poll(&fd, 1, 15000) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    ::close(ready[0]);
    if (pid_ < 0 || number.empty()) return false;
    display_ = ":" + number;
    return true;
}

void VirtualDisplay::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace testsupport
