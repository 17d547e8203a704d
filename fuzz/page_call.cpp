// A page call as the script message handler receives it: JSON text (any value) read as the
// engine hands it over, run against a host with one echo plug-in; the callbacks must stay
// well-formed. Read from its text or from its value, a call must come out the same.
#include <cstdint>
#include <string_view>

#include "fuzz/BridgeFuzzHost.h"
#include "platform/ns/JSONText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::host();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto body = ns::JSONSerialization::read(
        text, {.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
    if (!body) return 0;
    const ns::JSONSlice slice(ns::JSONText::copy(text));
    auto fromValue = HYBInvokedUrlCommand::commandFromJson(*body);
    auto fromText = HYBInvokedUrlCommand::commandFromJSONText(slice);
    fuzzhost::require(fromValue.has_value() == fromText.has_value());
    if (fromValue) {
        fuzzhost::require(fromText->callbackId() == fromValue->callbackId() &&
                          fromText->className() == fromValue->className() &&
                          fromText->methodName() == fromValue->methodName() &&
                          fromText->arguments() == fromValue->arguments());
    }
    host.controller->commandQueue()->executeCall(slice);
    dispatch::RunLoop::main().runUntilIdle();
    host.checkScripts();
    return 0;
}
