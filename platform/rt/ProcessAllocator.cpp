#include "platform/rt/ProcessAllocator.h"

// Defined by the allocator's settings in the programs that run on it; absent elsewhere.
extern "C" {
[[gnu::weak]] void hyb_process_allocator_launch_started();
[[gnu::weak]] void hyb_process_allocator_launch_finished();
}

namespace rt {

void ProcessAllocator::launchStarted() {
    if (hyb_process_allocator_launch_started) hyb_process_allocator_launch_started();
}

void ProcessAllocator::launchFinished() {
    if (hyb_process_allocator_launch_finished) hyb_process_allocator_launch_finished();
}

}  // namespace rt
