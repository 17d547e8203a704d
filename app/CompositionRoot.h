#pragma once

#include <functional>
#include <string>

#include "app/HostArguments.h"
#include "platform/ns/Result.h"

namespace rt {
class ClassRegistry;
}  // namespace rt

// Puts the host together: registers every class that is found by name (the delegate class,
// the web view engine and the plug-ins under their config.xml class names), points the
// process at its bundle and sandbox, and launches the application.
class CompositionRoot {
public:
    // What the command line asks for (HostArguments reads it).
    using Options = HostArguments::Options;

    // The application delegate class that the application loop is started with.
    static constexpr const char* kDelegateClassName = "AppDelegate";

    // What run() drives the main thread with, and what ends it: the run loop's own driver
    // unless the host installs another (the GLib main loop that the web engine needs).
    struct MainLoop {
        std::function<void()> run;
        std::function<void()> stop;
    };
    static void setMainLoop(MainLoop loop);

    static void registerClasses(rt::ClassRegistry& registry);
    // The parts that bring large libraries of their own are modules in the program's folder
    // (`folder`), loaded when a plug-in first needs them.
    static void provideModules(const std::string& folder);

    // Bundle, sandbox, log and classes; an error when the bundle or sandbox cannot be used.
    static ns::Status prepare(const Options& options);
    // Starts the application with kDelegateClassName and makes it active; false when the
    // delegate class is missing or the launch was refused.
    static bool launch();
    // prepare() and launch(), then runs the main loop until SIGINT or SIGTERM (or, with
    // exitAfterLoad, the first page load) ends the application. The process's exit status.
    static int run(const Options& options);
};
