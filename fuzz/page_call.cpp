// A page call as the script message handler receives it: JSON (any value) turned into a
// command and run against a host with one echo plug-in; the callbacks must stay well-formed.
#include <cstdint>
#include <string_view>

#include "fuzz/BridgeFuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::host();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto body = ns::JSONSerialization::read(text, {.fragmentsAllowed = true});
    if (!body) return 0;
    if (auto command = HYBInvokedUrlCommand::commandFromJson(std::move(body).value())) {
        host.controller->commandQueue()->execute(*command);
    }
    dispatch::RunLoop::main().runUntilIdle();
    host.checkScripts();
    return 0;
}
