#pragma once

#include <map>
#include <string>

// Receives the events of an HYBXMLParser. Every operation is optional.
class HYBXMLParserDelegate {
public:
    using Attributes = std::map<std::string, std::string, std::less<>>;

    virtual ~HYBXMLParserDelegate() = default;

    virtual void parserDidStartDocument() {}
    // Element and attribute names as written in the document, without namespace handling.
    virtual void didStartElement(const std::string& elementName, const Attributes& attributes) {
        (void)elementName;
        (void)attributes;
    }
    virtual void didEndElement(const std::string& elementName) { (void)elementName; }
    // Not called when the parse ends with an error.
    virtual void parserDidEndDocument() {}
    // The parse stops here; what the delegate collected before the error stays.
    virtual void parseErrorOccurred(const std::string& description) { (void)description; }
};
