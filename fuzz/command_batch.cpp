// A batch of commands as the page returns it from an evaluation: text through the queue's
// parse and passes, against a host with one echo plug-in.
#include <cstdint>
#include <string>

#include "fuzz/BridgeFuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::host();
    auto queue = host.controller->commandQueue();
    queue->enqueueCommandBatch(std::string(reinterpret_cast<const char*>(data), size));
    queue->executePending();
    dispatch::RunLoop::main().runUntilIdle();
    fuzzhost::require(!queue->currentlyExecuting());
    host.checkScripts();
    return 0;
}
