// Settings of the process allocator, compiled into the release programs that run on it.
#include <mimalloc.h>

#include <cstdlib>

namespace {

// Memory that a large answer frees is mostly wanted again at once, by the next one. Given back
// to the system after the allocator's default 25 ms, it has to be faulted in again page by
// page, which costs a batch of many thousand statements about a sixth of its time; a quarter
// of a second keeps it through a burst of calls and still returns it soon after. A setting in
// the environment wins.
[[maybe_unused]] const bool kConfigured = [] {
    if (!std::getenv("MIMALLOC_DECOMMIT_DELAY")) mi_option_set(mi_option_decommit_delay, 250);
    return true;
}();

}  // namespace
