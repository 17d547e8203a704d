#include "platform/dispatch/QueueContract.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"

namespace dispatch {
namespace {

void wrongQueue(const char* function, const std::string& expected) {
    std::fprintf(stderr, "%s called off %s\n", function, expected.c_str());
#ifndef NDEBUG
    std::fflush(stderr);
    std::abort();
#endif
}

}  // namespace

void expectMainThread(const char* function) {
    if (!RunLoop::isMainThread()) wrongQueue(function, "the main thread");
}

void expectQueue(const Queue& queue, const char* function) {
    if (!queue.isCurrent()) wrongQueue(function, "the queue \"" + queue.label() + "\"");
}

}  // namespace dispatch
