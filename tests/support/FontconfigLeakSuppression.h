#pragma once

// Include from exactly one source file of a test binary that draws or measures text.
//
// The system's font configuration library keeps caches that it never frees and that the
// leak checker reports as lost; they are the library's, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
