#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

// An X server of its own (Xvfb) on the first free display, for tests of the toolkit and the
// web engine, which need one; stopped with the object.
class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay() { stop(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Starts the server and waits until it accepts connections; false when it did not start.
    bool start();
    void stop();

    // ":N" once started.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace testsupport
