#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

// Outcome of a plug-in action, as the page's callback receives it.
enum HYBResultStatus : unsigned {
    HYBResultStatusNoResult = 0,
    HYBResultStatusOK = 1,
    HYBResultStatusClassNotFound = 2,
    HYBResultStatusIllegalAccess = 3,
    HYBResultStatusInstantiationError = 4,
    HYBResultStatusMalformedUrl = 5,
    HYBResultStatusIOError = 6,
    HYBResultStatusInvalidAction = 7,
    HYBResultStatusJSONError = 8,
    HYBResultStatusError = 9,
};

// Keys and type names of the envelopes that carry binary data through the bridge's JSON.
inline constexpr const char* kHYBTypeKey = "HYBType";
inline constexpr const char* kHYBTypeArrayBuffer = "ArrayBuffer";
inline constexpr const char* kHYBTypeMultiPart = "MultiPart";
inline constexpr const char* kHYBArrayBufferDataKey = "data";
inline constexpr const char* kHYBMultiPartMessagesKey = "messages";

// The answer of one plug-in action: a status, an optional message for the page and a
// keep-callback flag. Built and read on any thread; the command delegate turns it into a
// callback in the page.
class HYBPluginResult : public ns::Object {
public:
    // A result with no status (HYBResultStatusNoResult) and no message.
    HYBPluginResult();
    // The message is kept as given; a null value means "no message".
    HYBPluginResult(unsigned status, ns::Value message);

    static std::shared_ptr<HYBPluginResult> resultWithStatus(unsigned status);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsString(unsigned status,
                                                                            std::string message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsArray(unsigned status,
                                                                           ns::Array message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsInt(unsigned status,
                                                                         int32_t message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsNSInteger(unsigned status,
                                                                               int64_t message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsNSUInteger(unsigned status,
                                                                                uint64_t message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsDouble(unsigned status,
                                                                            double message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsBool(unsigned status,
                                                                          bool message);
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsDictionary(
        unsigned status, ns::Dictionary message);
    // The bytes travel as {"HYBType":"ArrayBuffer","data":<Base64>}.
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsArrayBuffer(
        unsigned status, const ns::Data& message);
    // {"HYBType":"MultiPart","messages":[...]} with every binary part in an array-buffer
    // envelope and the other parts as they are.
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsMultipart(
        unsigned status, const ns::Array& messages);
    // {"code": errorCode}
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageToErrorObject(unsigned status,
                                                                                 int32_t errorCode);
    // A message already written as JSON text (one whole value, from an ns::JSONWriter), sent
    // as it is: a large answer need not be built as a value first. message() reads the text
    // back on first use, as the page would read it.
    static std::shared_ptr<HYBPluginResult> resultWithStatusMessageAsJSON(unsigned status,
                                                                          std::string json);

    unsigned status() const { return status_; }
    const ns::Value& message() const;
    // Whether there is a message, without reading one given as JSON text.
    bool hasMessage() const { return encoded_ || !message_.isNull(); }
    bool keepCallback() const { return keepCallback_; }
    void setKeepCallback(bool keep) { keepCallback_ = keep; }
    void setKeepCallbackAsBool(bool keep) { keepCallback_ = keep; }
    // Travels with the result inside the program only; never sent to the page.
    const std::shared_ptr<ns::Object>& associatedObject() const { return associatedObject_; }
    void setAssociatedObject(std::shared_ptr<ns::Object> object) {
        associatedObject_ = std::move(object);
    }

    // The message as one JSON value of any kind (scalars included); "null" without a message.
    // A message that has no JSON form (a non-finite number, a date, raw data, text that is
    // not UTF-8) is logged and becomes null.
    std::string argumentsAsJSON() const;
    // Appends argumentsAsJSON() to `out`, with room for `trailingBytes` more, so that a large
    // binary message is held once as the message and once as the text being built.
    void appendArgumentsAsJSON(std::string& out, size_t trailingBytes = 0) const;

    // How the message reaches the page's callback: its JSON text written into the callback's
    // script, or, when larger than `largeBytes`, handed to the page as a value (no literal of
    // that size to escape and compile): its JSON text for the page to parse, a string as it is
    // (UTF-8 without zero bytes), or the Base64 text of binary data. Each gives the callback
    // the same value.
    struct PageMessage {
        enum class Form { Script, JSONText, Text, ArrayBufferBase64 };
        Form form;
        std::string text;
    };
    PageMessage pageMessage(size_t largeBytes) const;
    // The same, a text handed over as it is taken out of the message rather than copied: for
    // the sender holding the only reference, which reads the message no more.
    PageMessage takePageMessage(size_t largeBytes);
    // Whether the JSON text writes the key "__proto__": read as a script's literal rather than
    // parsed, that key would set its object's prototype instead of being one of its keys.
    static bool namesPrototypeKey(std::string_view json);

    // Envelope builders, also used by the factories.
    static ns::Value arrayBufferResultMessage(const ns::Data& data);
    static ns::Value multipartItemResultMessage(const ns::Value& item);
    static ns::Value multipartResultMessage(const ns::Array& messages);

    // The text of a status ("OK", "JSON error"...); "" for a value outside the table.
    static std::string_view statusMessage(unsigned status);

    // A class-wide flag that changes no output; kept for plug-ins that read it.
    static void setVerbose(bool verbose) { verbose_.store(verbose); }
    static bool isVerbose() { return verbose_.load(); }

private:
    // The text a message larger than `largeBytes` is handed over as, and in which form; null
    // when it goes as JSON.
    const std::string* passedText(size_t largeBytes, PageMessage::Form& form) const;

    unsigned status_;
    ns::Value message_;
    // Set for a message given as JSON text; shared by copies, which read it back once.
    struct EncodedMessage;
    std::shared_ptr<EncodedMessage> encoded_;
    bool keepCallback_ = false;
    std::shared_ptr<ns::Object> associatedObject_;

    static std::atomic<bool> verbose_;
};
