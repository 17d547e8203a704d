#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CompositionRoot.h"
#include "app/HostArguments.h"
#include "platform/gtk/GLibDriver.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/Log.h"
#include "platform/rt/ProcessAllocator.h"

namespace {

std::string executablePath(const char* argv0) {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string(argv0);
}

// The terminate signals end the application through a handler that the main run loop hears
// (see CompositionRoot::run). Blocked here, before GTK and the engine start their threads,
// they wait on the main thread until that handler is in place, and those threads leave them
// to it.
void blockTerminateSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    rt::ProcessAllocator::launchStarted();
    blockTerminateSignals();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string program = executablePath(argv[0]);
    CompositionRoot::provideModules(std::filesystem::path(program).parent_path().string());
    // Everything that can be checked is checked here, before a display is needed.
    auto options = HostArguments::parse(arguments, program);
    if (!options) {
        const bool argument = options.error().code() == HostArguments::kArgumentErrorCode;
        // The line quotes arguments and paths as given: a line break or an escape sequence in
        // one is shown escaped, so that it can neither split the line nor forge another.
        const std::string problem = ns::Log::escapedForLine(options.error().localizedDescription());
        std::fprintf(stderr, "hybrid-host: %s%s\n", problem.c_str(),
                     argument ? " (hybrid-host --help lists the options)" : "");
        return 2;
    }
    if (options->help) {
        std::fputs(HostArguments::helpText().c_str(), stdout);
        return 0;
    }
    // The pages render in WebKitGTK, whose GLib main loop drives the main run loop.
    if (!wk::WebKitGtkEngine::install()) {
        std::fprintf(stderr,
                     "hybrid-host: no display; start it with tools/run-host, which provides a "
                     "virtual one when there is none.\n");
        return 1;
    }
    dispatch::GLibDriver driver;
    // Native screens (the in-app browser and its toolbar) are drawn as GTK widgets.
    wk::GtkViewPresenter::install();
    CompositionRoot::setMainLoop({[&driver] { driver.run(); }, [&driver] { driver.quit(); }});
    return CompositionRoot::run(*options);
}
