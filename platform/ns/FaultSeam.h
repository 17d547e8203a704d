#pragma once

#include <string_view>

namespace ns {

// Asked before a system operation whose failure callers must handle ("open", "write",
// "rename", "keychain" ...): the error to fail with instead of running, or 0 to run. The
// program always runs; the testing library links its own answer in place of this one and
// replays the failures a test asked for, so that every failure path can be reached.
int injectedFault(std::string_view operation) noexcept;

}  // namespace ns
