#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CompositionRoot.h"
#include "platform/wk/EngineRegistry.h"
#include "platform/wk/FakeEngine.h"

namespace {

std::string executablePath(const char* argv0) {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string(argv0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    auto options = CompositionRoot::parseArguments(arguments, executablePath(argv[0]));
    if (!options) {
        std::fprintf(stderr, "%s\n", options.error().localizedDescription().c_str());
        return 2;
    }
    // The engine that renders the pages: the in-process one runs headless.
    wk::EngineRegistry::shared().setDefaultEngine(wk::FakeEngine::kName);
    return CompositionRoot::run(*options);
}
