#pragma once

#include <string_view>

namespace ns {

// Asked before a system operation whose failure callers must handle ("open", "write",
// "rename", "keychain" ...): the error to fail with instead of running, or 0 to run. The
// program always runs; the testing library links its own answer in place of this one and
// replays the failures a test asked for, so that every failure path can be reached.
int injectedFault(std::string_view operation) noexcept;

// Passed at a point where two threads' work can interleave in a way that matters (between a
// read and the write that relies on it). The program does nothing here; the testing library
// runs what a test put at that point, so that a test can force the interleaving.
void passTestPoint(std::string_view point);

}  // namespace ns
