#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Value.h"

// One call that the page made: which service and action, which callback to answer, and the
// arguments. A plain value, built and read on any thread.
class HYBInvokedUrlCommand {
public:
    // Asks whether an argument is of the wanted kind (&ns::Value::isString, ...).
    using KindTest = bool (ns::Value::*)() const;

    // A command from the array the page posts: [callbackId, service, action, arguments].
    // The callback id is a string or null (nil id); service and action are strings; arguments
    // that are not an array count as none. Anything else is refused with a log line: the
    // page's input never stops the program.
    static std::optional<HYBInvokedUrlCommand> commandFromJson(ns::Value json);

    // Stores the values as given, then decodes array-buffer envelopes among the arguments.
    HYBInvokedUrlCommand(ns::Array arguments, std::optional<std::string> callbackId,
                         std::string className, std::string methodName);

    const std::optional<std::string>& callbackId() const { return callbackId_; }
    const std::string& className() const { return className_; }
    const std::string& methodName() const { return methodName_; }
    // A command that was moved from has none.
    const ns::Array& arguments() const { return arguments_ ? *arguments_ : noArguments(); }

    // The argument at the index, or the default when the index is past the end, the argument
    // is null, or a kind test is given and the argument fails it.
    ns::Value argumentAtIndex(size_t index) const { return argumentAtIndex(index, ns::Value()); }
    ns::Value argumentAtIndex(size_t index, ns::Value defaultValue, KindTest kind = nullptr) const;

private:
    // Top-level {"HYBType":"ArrayBuffer","data":<Base64>} arguments become their bytes. An
    // envelope whose text is not valid Base64 stays the dictionary it was.
    static ns::Array massageArguments(ns::Array arguments);
    static const ns::Array& noArguments();

    std::optional<std::string> callbackId_;
    std::string className_;
    std::string methodName_;
    // Shared, never changed after construction: plug-ins copy commands to answer them later or
    // on another thread, and a batch's arguments can hold many thousands of values.
    std::shared_ptr<const ns::Array> arguments_;
};
