#pragma once

#include <optional>
#include <string>
#include <string_view>

// The attributes of one element as the parser read them, names and values in document order.
// A view of the parser's own buffers: valid only during the call that hands it over.
class HYBXMLAttributes {
public:
    // `pairs`: name, value, name, value ... and a null pointer after the last value.
    explicit HYBXMLAttributes(const char* const* pairs) : pairs_(pairs) {}

    // The value of the attribute of that name; nothing when the element has none.
    std::optional<std::string_view> find(std::string_view name) const {
        for (const char* const* at = pairs_; at[0] && at[1]; at += 2) {
            if (name == at[0]) return std::string_view(at[1]);
        }
        return std::nullopt;
    }

private:
    const char* const* pairs_;
};

// Receives the events of an HYBXMLParser. Every operation is optional.
class HYBXMLParserDelegate {
public:
    using Attributes = HYBXMLAttributes;

    virtual ~HYBXMLParserDelegate() = default;

    virtual void parserDidStartDocument() {}
    // Element and attribute names as written in the document, without namespace handling.
    virtual void didStartElement(std::string_view /*elementName*/,
                                 const Attributes& /*attributes*/) {}
    virtual void didEndElement(std::string_view /*elementName*/) {}
    // Not called when the parse ends with an error.
    virtual void parserDidEndDocument() {}
    // The parse stops here; what the delegate collected before the error stays.
    virtual void parseErrorOccurred(const std::string& /*description*/) {}
};
