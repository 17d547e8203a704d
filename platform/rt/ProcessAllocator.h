#pragma once

namespace rt {

// The process allocator's part in a program's launch. Release programs run on an allocator
// that keeps the memory a thread frees for a while, so that the next block of that size is
// served without asking the system again (cmake/ProcessAllocator.cpp); other builds keep the C
// library's or the sanitizers' allocator, and there these calls do nothing.
//
// What a launch frees (the engine's and the toolkit's set-up, the bundle's files read and
// parsed) is not wanted again soon, and a thread that goes idle after the launch would keep
// it for good: while the program launches, freed memory goes back to the system at once.
class ProcessAllocator {
public:
    // From now until launchFinished(); call first thing in main().
    static void launchStarted();
    // The first page is shown: from now on freed memory is kept for reuse again.
    static void launchFinished();
};

}  // namespace rt
