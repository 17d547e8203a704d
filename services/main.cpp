// hybrid-services: the project's own loopback services for a host on this machine.
//   hybrid-services [--env-file PATH]
// Starts every service on 127.0.0.1, prints the environment that points a host at them (one
// NAME=value a line) and, with --env-file, writes it to PATH once every service listens; then
// runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/Log.h"
#include "services/LocalServices.h"

namespace {

constexpr const char* kUsage = "usage: hybrid-services [--env-file PATH]";

}  // namespace

int main(int argc, char** argv) {
    std::string envFile;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--env-file" && i + 1 < arguments.size()) {
            envFile = arguments[++i];
        } else if (arguments[i] == "--help") {
            std::printf("%s\n", kUsage);
            return 0;
        } else {
            std::fprintf(stderr, "hybrid-services: unknown argument %s\n%s\n", arguments[i].c_str(),
                         kUsage);
            return 2;
        }
    }
    // The signals are waited for below, on this thread; the services' threads leave them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        localservices::LocalServices services;
        services.start();
        std::string text;
        for (const auto& [name, value] : services.environment()) text += name + "=" + value + "\n";
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        // Appears whole or not at all: a reader waiting for the file never sees half of it.
        if (!envFile.empty() && !ns::writeFileAtomically(envFile, text).ok()) {
            std::fprintf(stderr, "hybrid-services: cannot write %s\n", envFile.c_str());
            return 1;
        }
        int received = 0;
        sigwait(&stopSignals, &received);
        localservices::LocalServices::log("services", "stopping");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hybrid-services: %s\n", error.what());
        return 1;
    }
    return 0;
}
