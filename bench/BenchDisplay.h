// A display for the benchmarks that run the real web engine. Header-only: each benchmark is
// its own program.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace benchhost {

// Without DISPLAY or WAYLAND_DISPLAY, runs the same program again under a virtual X server
// and does not return unless that fails (then 1). With a display, answers 0 at once.
inline int ensureDisplay(int argc, char** argv, const char* name) {
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) return 0;
    std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                            const_cast<char*>("-s"),
                            const_cast<char*>("-screen 0 1280x1024x24 -nolisten tcp")};
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    args.push_back(self);
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    ::setenv("GDK_BACKEND", "x11", 1);
    ::execvp("xvfb-run", args.data());
    std::perror(name);
    return 1;
}

}  // namespace benchhost
