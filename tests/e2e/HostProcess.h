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
    // The fixture bundle with the example bundle's bridge script, copied into the sandbox.
    explicit HostProcess(const std::string& sandbox);
    HostProcess(const std::string& bundle, const std::string& sandbox,
                const std::vector<std::string>& arguments);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Reads until the output holds `text` (or, with an empty text, until it ends).
    bool readUntil(const std::string& text, std::chrono::seconds cap = std::chrono::seconds(30));
    // Sends the signal to a thread other than the main one that does not block it, as the
    // kernel may pick one for a signal to the process; to the process when there is none.
    void signalAThread(int number);
    int wait();
    const std::string& output() const { return output_; }

private:
    void start(const std::string& bundle, const std::string& sandbox,
               const std::vector<std::string>& arguments);

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

#endif
