#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/JSONText.h"
#include "platform/ns/Value.h"

// One call that the page made: which service and action, which callback to answer, and the
// arguments. A plain value, built and read on any thread.
//
// A command read from the JSON text of a call keeps its arguments as that text until they are
// first asked for, so that a call is routed without reading them, and a plug-in that reads a
// large argument part by part (argumentsJSON()) never has them built as values at all.
class HYBInvokedUrlCommand {
public:
    // Asks whether an argument is of the wanted kind (&ns::Value::isString, ...).
    using KindTest = bool (ns::Value::*)() const;

    // A command from the array the page posts: [callbackId, service, action, arguments].
    // The callback id is a string or null (nil id); service and action are strings; arguments
    // that are not an array count as none. Anything else is refused with a log line: the
    // page's input never stops the program.
    static std::optional<HYBInvokedUrlCommand> commandFromJson(ns::Value json);
    // The same from the JSON text of such an array, by the same rules; the arguments are read
    // when first asked for. An escaped lone surrogate in the text reads as U+FFFD.
    static std::optional<HYBInvokedUrlCommand> commandFromJSONText(const ns::JSONSlice& call);
    // The callback id at the head of a call's text, when it is a string: read on its own, so
    // that a call that is refused can still be answered.
    static std::optional<std::string> callbackIdOfJSONText(const ns::JSONSlice& call);

    // Stores the values as given, then decodes array-buffer envelopes among the arguments.
    HYBInvokedUrlCommand(ns::Array arguments, std::optional<std::string> callbackId,
                         std::string className, std::string methodName);
    // Arguments given as the JSON text of an array, read on first use.
    static HYBInvokedUrlCommand withArgumentsJSON(ns::JSONSlice arguments,
                                                  std::optional<std::string> callbackId,
                                                  std::string className, std::string methodName);

    const std::optional<std::string>& callbackId() const { return callbackId_; }
    const std::string& className() const { return className_; }
    const std::string& methodName() const { return methodName_; }
    // A command that was moved from has none. Arguments kept as text are read here, once
    // (from any thread); text that does not read as an array is logged and counts as none.
    const ns::Array& arguments() const;
    // The arguments' JSON text (an array), when the command was read from text: for a plug-in
    // that reads a large argument as it goes. Array-buffer envelopes are not decoded there.
    const std::optional<ns::JSONSlice>& argumentsJSON() const;

    // The argument at the index where the command keeps it (a large string is not copied to
    // be read), or null when the index is past the end.
    const ns::Value& argumentAtIndex(size_t index) const;
    // The argument at the index, or the default when the index is past the end, the argument
    // is null, or a kind test is given and the argument fails it.
    ns::Value argumentAtIndex(size_t index, ns::Value defaultValue, KindTest kind = nullptr) const;

private:
    struct Arguments;

    HYBInvokedUrlCommand(std::optional<std::string> callbackId, std::string className,
                         std::string methodName, std::shared_ptr<Arguments> arguments);

    // Top-level {"HYBType":"ArrayBuffer","data":<Base64>} arguments become their bytes. An
    // envelope whose text is not valid Base64 stays the dictionary it was.
    static ns::Array massageArguments(ns::Array arguments);
    static const ns::Array& noArguments();

    std::optional<std::string> callbackId_;
    std::string className_;
    std::string methodName_;
    // Shared, never changed once read: plug-ins copy commands to answer them later or on
    // another thread, and a batch's arguments can hold many thousands of values.
    std::shared_ptr<Arguments> arguments_;
};
