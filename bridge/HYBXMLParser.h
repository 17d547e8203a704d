#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/HYBXMLParserDelegate.h"
#include "platform/ns/Object.h"

// An event-driven XML parser over one document. External entities and DTDs outside the
// document are never loaded, and entity expansion is bounded, so a hostile document cannot
// make the parser read files or use unbounded memory.
class HYBXMLParser : public ns::Object {
public:
    // Largest document read from a file (config.xml is a few kilobytes).
    static constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

    explicit HYBXMLParser(std::string document);
    // Nothing when the file cannot be read (or exceeds kMaxFileSize).
    static std::shared_ptr<HYBXMLParser> parserWithContentsOfFile(const std::string& path);

    // Held weakly by intention: the caller keeps the delegate alive for the parse.
    void setDelegate(HYBXMLParserDelegate* delegate) { delegate_ = delegate; }
    HYBXMLParserDelegate* delegate() const { return delegate_; }

    // Parses the whole document synchronously; false when it ended with an error.
    bool parse();
    // The description of the error that ended the last parse, with its line and column.
    const std::optional<std::string>& parserError() const { return error_; }
    // That error without its position, and where it stands: line and column from 1, the
    // column counted in bytes.
    const std::string& errorCause() const { return cause_; }
    size_t lineNumber() const { return line_; }
    size_t columnNumber() const { return column_; }
    // Whether the last parse read its document element to the end before it stopped: an
    // error after it (something past the document's end) leaves nothing of it unread.
    bool readDocumentElement() const { return readDocumentElement_; }

private:
    std::string document_;
    HYBXMLParserDelegate* delegate_ = nullptr;
    std::optional<std::string> error_;
    std::string cause_;
    size_t line_ = 0;
    size_t column_ = 0;
    bool readDocumentElement_ = false;
};
