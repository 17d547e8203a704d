// Settings of the process allocator, compiled into the release programs that run on it.
#include <mimalloc.h>

#include <cstddef>
#include <cstdlib>

namespace {

// Address space reserved up front (not committed, so it costs no resident memory until used).
// Without it every block too large for the allocator's ordinary segments (over 16 MiB: a large
// answer, its Base64 text, an inflated download) is mapped afresh and faulted in page by page,
// then unmapped when freed; from the reserved arena such blocks are reused instead.
constexpr size_t kReservedArenaBytes = size_t{1} << 30;

// Memory that a large answer frees is mostly wanted again at once, by the next one. Given back
// to the system after the allocator's default 25 ms, it has to be faulted in again page by
// page, which costs a batch of many thousand statements about a sixth of its time; a quarter
// of a second keeps it through a burst of calls and still returns it soon after. A setting in
// the environment wins.
constexpr long kFreedMemoryKeptMs = 250;

bool delayFromEnvironment() {
    return std::getenv("MIMALLOC_DECOMMIT_DELAY") != nullptr;
}

[[maybe_unused]] const bool kConfigured = [] {
    if (!delayFromEnvironment()) mi_option_set(mi_option_decommit_delay, kFreedMemoryKeptMs);
    if (!std::getenv("MIMALLOC_RESERVE_OS_MEMORY")) {
        mi_reserve_os_memory(kReservedArenaBytes, true, true);
    }
    return true;
}();

}  // namespace

// rt::ProcessAllocator. What a launch frees is not wanted again soon, and a thread that goes
// idle after the launch would keep it for good: during the launch freed memory goes back after
// 5 ms. Not at once: a page freed and taken again within moments would be faulted in anew
// each time (a launch that gives memory back at once takes some 13 000 more page faults, a
// sixth more processor time; one that waits 5 ms hardly more than one that keeps it). Not
// much later either: what the last moments before the first page free is still held when
// that page shows, some 0.5 MiB more with 10 ms than with 5 ms.
constexpr long kLaunchFreedMemoryKeptMs = 5;

extern "C" void hyb_process_allocator_launch_started() {
    if (!delayFromEnvironment()) mi_option_set(mi_option_decommit_delay, kLaunchFreedMemoryKeptMs);
}

extern "C" void hyb_process_allocator_launch_finished() {
    if (!delayFromEnvironment()) mi_option_set(mi_option_decommit_delay, kFreedMemoryKeptMs);
}
