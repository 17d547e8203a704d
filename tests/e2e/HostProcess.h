#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#ifdef HYB_HOST_EXECUTABLE

// The host program, started with a bundle, a sandbox and further arguments, its standard
// output and error read through one pipe. It is killed when the object goes.
class HostProcess {
public:
    // A bundle copied into the sandbox (given the example bundle's bridge script, the one copy
    // of it, when it has none), once: later runs on the same sandbox find it there.
    struct Launch {
        // The bundle's folder, from the source root.
        std::string bundle = "tests/fixtures/bundle";
        // After --bundle and --sandbox.
        std::vector<std::string> arguments;
        // NAME=value entries added to (or replacing) the suite's own environment.
        std::vector<std::string> environment;
        // Another copy of the host program, with modules of its own beside it.
        std::string program = HYB_HOST_EXECUTABLE;
    };

    // Copies the bundle (from the source root) into the sandbox, with the example bundle's
    // bridge script when it has none, unless a bundle is there already; its path.
    static std::string bundleIn(const std::string& sandbox, const std::string& bundle);

    // The fixture bundle with the example bundle's bridge script, copied into the sandbox.
    explicit HostProcess(const std::string& sandbox) : HostProcess(sandbox, Launch()) {}
    HostProcess(const std::string& sandbox, const Launch& launch);
    // The bundle where it is.
    HostProcess(const std::string& bundle, const std::string& sandbox,
                const std::vector<std::string>& arguments);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Reads until the output holds `text` at or after `from` (or, with an empty text, until it
    // ends).
    bool readUntil(const std::string& text, std::chrono::seconds cap = std::chrono::seconds(30),
                   size_t from = 0);
    // Sends the signal to a thread other than the main one that does not block it, as the
    // kernel may pick one for a signal to the process; to the process when there is none.
    void signalAThread(int number);
    // SIGTERM, then the output to its end; the wait status.
    int terminate();
    int wait();
    const std::string& output() const { return output_; }
    pid_t pid() const { return pid_; }

private:
    void start(const std::string& program, const std::string& bundle, const std::string& sandbox,
               const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment);

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

#endif
