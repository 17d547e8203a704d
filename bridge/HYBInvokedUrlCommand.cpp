#include "bridge/HYBInvokedUrlCommand.h"

#include "bridge/HYBPluginResult.h"
#include "platform/ns/Log.h"

namespace {

bool isArrayBufferEnvelope(const ns::Value& argument) {
    const ns::Value& type = argument[kHYBTypeKey];
    return argument.isDictionary() && type.string() && *type.string() == kHYBTypeArrayBuffer &&
           argument.find(kHYBArrayBufferDataKey) != nullptr;
}

}  // namespace

std::optional<HYBInvokedUrlCommand> HYBInvokedUrlCommand::commandFromJson(ns::Value json) {
    ns::Array* parts = json.array();
    if (!parts || parts->size() < 4 || !((*parts)[0].isString() || (*parts)[0].isNull())) {
        ns::nslog("ERROR: Page call is not [callbackId, service, action, arguments]; dropped.");
        return std::nullopt;
    }
    if (!(*parts)[1].isString() || !(*parts)[2].isString()) {
        ns::nslog("ERROR: Classname and/or methodName not found for command.");
        return std::nullopt;
    }
    std::optional<std::string> callbackId;
    if (std::string* id = (*parts)[0].string()) callbackId = std::move(*id);
    ns::Array arguments;
    if (ns::Array* given = (*parts)[3].array()) arguments = std::move(*given);
    return HYBInvokedUrlCommand(std::move(arguments), std::move(callbackId),
                                std::move(*(*parts)[1].string()), std::move(*(*parts)[2].string()));
}

HYBInvokedUrlCommand::HYBInvokedUrlCommand(ns::Array arguments,
                                           std::optional<std::string> callbackId,
                                           std::string className, std::string methodName)
    : callbackId_(std::move(callbackId)),
      className_(std::move(className)),
      methodName_(std::move(methodName)),
      arguments_(std::make_shared<const ns::Array>(massageArguments(std::move(arguments)))) {}

ns::Array HYBInvokedUrlCommand::massageArguments(ns::Array arguments) {
    for (ns::Value& argument : arguments) {
        if (!isArrayBufferEnvelope(argument)) continue;
        const std::string* text = argument[kHYBArrayBufferDataKey].string();
        if (!text) continue;
        if (std::optional<ns::Data> bytes = ns::Data::fromBase64(*text)) {
            argument = ns::Value(std::move(*bytes));
        }
    }
    return arguments;
}

const ns::Array& HYBInvokedUrlCommand::noArguments() {
    static const ns::Array kNone;
    return kNone;
}

ns::Value HYBInvokedUrlCommand::argumentAtIndex(size_t index, ns::Value defaultValue,
                                                KindTest kind) const {
    const ns::Array& arguments = this->arguments();
    if (index >= arguments.size()) return defaultValue;
    const ns::Value& argument = arguments[index];
    if (argument.isNull()) return defaultValue;
    if (kind && !(argument.*kind)()) return defaultValue;
    return argument;
}
