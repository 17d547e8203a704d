// A batch of commands as the page returns it from an evaluation: text through the queue's
// parse and passes, against a host with one echo plug-in. The queue's reading of a batch is the
// tree reader's: the same batches refused, and every command routed from its text as from its
// value, arguments included.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/BridgeFuzzHost.h"
#include "platform/ns/JSONText.h"

namespace {

void compareWithTheTreeReader(std::string_view text) {
    const auto tree = ns::JSONSerialization::read(text, {.loneSurrogatesReplaced = true});
    const auto commands = HYBCommandQueue::readBatch(ns::JSONSlice(ns::JSONText::copy(text)));
    if (!tree || !tree->isArray()) {
        fuzzhost::require(commands.size() == 0);
        return;
    }
    const ns::Array& calls = *tree->array();
    fuzzhost::require(commands.size() == calls.size());
    // Commands read with the batch are those of their texts.
    auto withCommands = HYBCommandQueue::readBatch(ns::JSONSlice(ns::JSONText::copy(text)),
                                                   HYBCommandQueue::BatchRead::kCommands);
    fuzzhost::require(withCommands.size() == calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto fromValue = HYBInvokedUrlCommand::commandFromJson(calls[i]);
        const auto fromText = HYBInvokedUrlCommand::commandFromJSONText(commands.command(i));
        fuzzhost::require(fromValue.has_value() == fromText.has_value());
        auto read = withCommands.takeRead(i);
        fuzzhost::require(!read || fromValue);
        if (!fromValue) continue;
        fuzzhost::require(fromText->callbackId() == fromValue->callbackId() &&
                          fromText->className() == fromValue->className() &&
                          fromText->methodName() == fromValue->methodName() &&
                          fromText->arguments() == fromValue->arguments());
        if (read) {
            fuzzhost::require(
                read->callbackId() == fromValue->callbackId() &&
                read->className() == fromValue->className() &&
                read->methodName() == fromValue->methodName() &&
                read->arguments() == fromValue->arguments() &&
                ns::JSONSerialization::write(ns::Value(read->arguments())).valueOr("") ==
                    ns::JSONSerialization::write(ns::Value(fromValue->arguments())).valueOr(""));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::host();
    compareWithTheTreeReader(std::string_view(reinterpret_cast<const char*>(data), size));
    auto queue = host.controller->commandQueue();
    queue->enqueueCommandBatch(std::string(reinterpret_cast<const char*>(data), size));
    queue->executePending();
    dispatch::RunLoop::main().runUntilIdle();
    fuzzhost::require(!queue->currentlyExecuting());
    host.checkScripts();
    return 0;
}
