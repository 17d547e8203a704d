#include "bridge/HYBInvokedUrlCommand.h"

#include <atomic>

#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

namespace {

bool isArrayBufferEnvelope(const ns::Value& argument) {
    const ns::Value& type = argument[kHYBTypeKey];
    return argument.isDictionary() && type.string() && *type.string() == kHYBTypeArrayBuffer &&
           argument.find(kHYBArrayBufferDataKey) != nullptr;
}

constexpr const char* kNotACallLog =
    "ERROR: Page call is not [callbackId, service, action, arguments]; dropped.";
constexpr const char* kNoNamesLog = "ERROR: Classname and/or methodName not found for command.";

// Lone surrogates in a page's text stand for the halves of characters that were cut; they read
// as U+FFFD, as the engine reads every other value of the page.
constexpr ns::JSONReadOptions kPageText{.loneSurrogatesReplaced = true};

// The first four elements of a call's text, each read as far as the call needs it.
struct CallParts {
    size_t count = 0;
    bool idIsString = false;
    bool idIsNull = false;
    std::optional<std::string> callbackId;
    std::optional<std::string> className;
    std::optional<std::string> methodName;
    std::optional<ns::JSONSlice> arguments;
    // Why the arguments cannot be read, when they cannot.
    std::optional<ns::Error> unreadable;
};

std::optional<std::string> stringElement(ns::ondemand::value value) {
    ns::ondemand::json_type type;
    if (value.type().get(type) || type != ns::ondemand::json_type::string) return std::nullopt;
    auto text = ns::json::string(value, kPageText.loneSurrogatesReplaced);
    if (!text) return std::nullopt;
    return std::move(text).value();
}

// Reads up to `wanted` elements; false when the text is not an array or breaks off.
bool readCallParts(const ns::JSONSlice& call, size_t wanted, CallParts& parts) {
    ns::JSONReader reader(call);
    ns::ondemand::array elements;
    if (reader.document().get_array().get(elements)) return false;
    for (auto element : elements) {
        ns::ondemand::value value;
        if (element.get(value)) return false;
        ns::ondemand::json_type type;
        if (value.type().get(type)) return false;
        switch (parts.count++) {
            case 0:
                parts.idIsNull = type == ns::ondemand::json_type::null;
                parts.callbackId = stringElement(value);
                parts.idIsString = parts.callbackId.has_value();
                break;
            case 1:
                parts.className = stringElement(value);
                break;
            case 2:
                parts.methodName = stringElement(value);
                break;
            default:
                if (type == ns::ondemand::json_type::array) {
                    // Kept as text, found by one pass over its brackets rather than by the
                    // reader's walk over its values; nesting is all that could stop it from
                    // reading later.
                    const std::string_view whole = call.text();
                    const char* start = value.raw_json_token().data();
                    const auto extent = ns::json::containerExtent(
                        whole.substr(static_cast<size_t>(start - whole.data())), kPageText.maxDepth,
                        1);
                    if (extent.tooDeep) {
                        parts.unreadable = ns::cocoaError(ns::kPropertyListReadCorruptError,
                                                          "Too many nested arrays or dictionaries");
                        return true;
                    }
                    if (!extent.length) return false;
                    parts.arguments.emplace(call.owner(), std::string_view(start, *extent.length));
                }
                break;
        }
        // Left where it stands: going on would have the reader walk over the last element.
        if (parts.count == wanted) break;
    }
    return true;
}

// The head of a call as the page's script writes it: parts of the call's text.
struct CallHead {
    std::optional<std::string_view> callbackId;  // none for a null id
    std::string_view className;
    std::string_view methodName;
    std::string_view arguments;
};

// The call as the page's script writes it, read by hand without the reader's pass over the
// whole text (which a large argument makes long): '[', a callback id (a string or null) and
// two names, each a string of printable ASCII without escapes, then the arguments' array and
// ']'. False for text of any other shape, which the reader then reads.
bool readCallHead(std::string_view text, CallHead& head) {
    size_t at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
            ++at;
        }
    };
    const auto take = [&](char c) {
        skipSpace();
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    };
    // A plain string's contents, as they stand in the text.
    const auto plainString = [&](std::string_view& contents) {
        if (!take('"')) return false;
        const size_t start = at;
        for (; at < text.size() && text[at] != '"'; ++at) {
            const auto c = static_cast<unsigned char>(text[at]);
            if (c < 0x20 || c > 0x7E || c == '\\') return false;
        }
        if (at >= text.size()) return false;
        contents = text.substr(start, at++ - start);
        return true;
    };
    if (!take('[')) return false;
    skipSpace();
    if (text.substr(at).starts_with("null")) {
        at += 4;
        head.callbackId.reset();
    } else if (std::string_view id; plainString(id)) {
        head.callbackId = id;
    } else {
        return false;
    }
    if (!take(',') || !plainString(head.className) || !take(',') || !plainString(head.methodName) ||
        !take(',')) {
        return false;
    }
    skipSpace();
    if (at >= text.size() || text[at] != '[') return false;
    const auto extent = ns::json::containerExtent(text.substr(at), kPageText.maxDepth, 1);
    if (extent.tooDeep || !extent.length) return false;
    head.arguments = text.substr(at, *extent.length);
    at += *extent.length;
    if (!take(']')) return false;
    skipSpace();
    return at == text.size();
}

// One argument read from its text: a string straight from where it stands (an argument can be
// megabytes of text), a container whole by the tree reader (the faster at many small values).
ns::Result<ns::Value> readArgument(ns::ondemand::value value) {
    ns::ondemand::json_type type;
    if (auto error = value.type().get(type)) {
        return ns::cocoaError(ns::kPropertyListReadCorruptError, simdjson::error_message(error));
    }
    switch (type) {
        case ns::ondemand::json_type::string: {
            auto text = ns::json::string(value, kPageText.loneSurrogatesReplaced);
            if (!text) return text.error();
            return ns::Value(std::move(text).value());
        }
        case ns::ondemand::json_type::number:
            return ns::json::number(value);
        case ns::ondemand::json_type::array:
        case ns::ondemand::json_type::object: {
            auto text = ns::json::rawText(value);
            if (!text) return text.error();
            return ns::JSONSerialization::read(*text, kPageText);
        }
        default: {
            auto text = ns::json::rawText(value);
            if (!text) return text.error();
            return ns::JSONSerialization::read(*text, {.fragmentsAllowed = true});
        }
    }
}

// Argument text this short is read whole by the tree reader: the on-demand reader's set-up
// costs more than the tree reader's whole read of a few small values (a batch's commands).
constexpr size_t kShortArguments = 4096;

// The arguments read element by element; an error when their text does not read.
ns::Result<ns::Array> readArguments(const ns::JSONSlice& text) {
    if (text.text().size() <= kShortArguments) {
        auto read = ns::JSONSerialization::read(text.text(), kPageText);
        if (!read) return read.error();
        if (ns::Array* values = read->array()) return std::move(*values);
        return ns::cocoaError(ns::kPropertyListReadCorruptError, "Arguments are not an array.");
    }
    ns::JSONReader reader(text);
    ns::ondemand::array elements;
    if (auto error = reader.document().get_array().get(elements)) {
        return ns::cocoaError(ns::kPropertyListReadCorruptError, simdjson::error_message(error));
    }
    ns::Array arguments;
    for (auto element : elements) {
        ns::ondemand::value value;
        if (auto error = element.get(value)) {
            return ns::cocoaError(ns::kPropertyListReadCorruptError,
                                  simdjson::error_message(error));
        }
        auto argument = readArgument(value);
        if (!argument) return argument.error();
        arguments.push_back(std::move(argument).value());
    }
    if (!reader.atEnd())
        return ns::cocoaError(ns::kPropertyListReadCorruptError, "Garbage at end.");
    return arguments;
}

}  // namespace

struct HYBInvokedUrlCommand::Arguments {
    explicit Arguments(ns::Array given) : values(std::move(given)) {}
    explicit Arguments(ns::JSONSlice given) : text(std::move(given)) {}

    std::optional<ns::JSONSlice> text;
    // Read once, on whichever thread asks first. Not a once flag: the C library's wakes its
    // waiters with a system call every time, which a batch of small calls pays per command.
    std::atomic<bool> read{false};
    dispatch::Mutex reading;
    ns::Array values GUARDED_BY(reading);
};

std::optional<HYBInvokedUrlCommand> HYBInvokedUrlCommand::commandFromJSONText(
    const ns::JSONSlice& call) {
    if (CallHead head; readCallHead(call.text(), head)) {
        return HYBInvokedUrlCommand(
            head.callbackId ? std::optional<std::string>(std::in_place, *head.callbackId)
                            : std::nullopt,
            std::string(head.className), std::string(head.methodName),
            std::make_shared<Arguments>(ns::JSONSlice(call.owner(), head.arguments)));
    }
    CallParts parts;
    const bool read = readCallParts(call, 4, parts);
    if (parts.unreadable) {
        ns::nslog("ERROR: Page call could not be read: %@",
                  parts.unreadable->localizedDescription());
        return std::nullopt;
    }
    if (!read || parts.count < 4 || !(parts.idIsString || parts.idIsNull)) {
        ns::nslog(kNotACallLog);
        return std::nullopt;
    }
    if (!parts.className || !parts.methodName) {
        ns::nslog(kNoNamesLog);
        return std::nullopt;
    }
    if (!parts.arguments) {
        return HYBInvokedUrlCommand(ns::Array(), std::move(parts.callbackId),
                                    std::move(*parts.className), std::move(*parts.methodName));
    }
    return withArgumentsJSON(std::move(*parts.arguments), std::move(parts.callbackId),
                             std::move(*parts.className), std::move(*parts.methodName));
}

std::optional<std::string> HYBInvokedUrlCommand::callbackIdOfJSONText(const ns::JSONSlice& call) {
    CallParts parts;
    readCallParts(call, 1, parts);
    return std::move(parts.callbackId);
}

std::optional<HYBInvokedUrlCommand> HYBInvokedUrlCommand::commandFromJson(ns::Value json) {
    ns::Array* parts = json.array();
    if (!parts || parts->size() < 4 || !((*parts)[0].isString() || (*parts)[0].isNull())) {
        ns::nslog(kNotACallLog);
        return std::nullopt;
    }
    if (!(*parts)[1].isString() || !(*parts)[2].isString()) {
        ns::nslog(kNoNamesLog);
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
      arguments_(std::make_shared<Arguments>(massageArguments(std::move(arguments)))) {}

HYBInvokedUrlCommand HYBInvokedUrlCommand::withArgumentsJSON(ns::JSONSlice arguments,
                                                             std::optional<std::string> callbackId,
                                                             std::string className,
                                                             std::string methodName) {
    return HYBInvokedUrlCommand(std::move(callbackId), std::move(className), std::move(methodName),
                                std::make_shared<Arguments>(std::move(arguments)));
}

HYBInvokedUrlCommand::HYBInvokedUrlCommand(std::optional<std::string> callbackId,
                                           std::string className, std::string methodName,
                                           std::shared_ptr<Arguments> arguments)
    : callbackId_(std::move(callbackId)),
      className_(std::move(className)),
      methodName_(std::move(methodName)),
      arguments_(std::move(arguments)) {}

const ns::Array& HYBInvokedUrlCommand::arguments() const {
    if (!arguments_) return noArguments();
    Arguments& arguments = *arguments_;
    if (!arguments.text) return arguments.values;
    if (arguments.read.load(std::memory_order_acquire)) return arguments.values;
    dispatch::Lock lock(arguments.reading);
    if (arguments.read.load(std::memory_order_relaxed)) return arguments.values;
    auto values = readArguments(*arguments.text);
    if (values) {
        arguments.values = massageArguments(std::move(values).value());
    } else {
        ns::nslog("ERROR: Arguments of %@.%@ could not be read; the call has none.", className_,
                  methodName_);
    }
    arguments.read.store(true, std::memory_order_release);
    return arguments.values;
}

const std::optional<ns::JSONSlice>& HYBInvokedUrlCommand::argumentsJSON() const {
    static const auto& kNone = *new std::optional<ns::JSONSlice>();
    return arguments_ ? arguments_->text : kNone;
}

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
    static const auto& kNone = *new ns::Array();
    return kNone;
}

const ns::Value& HYBInvokedUrlCommand::argumentAtIndex(size_t index) const {
    const ns::Array& arguments = this->arguments();
    return index < arguments.size() ? arguments[index] : ns::Value::null();
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
