#include "bridge/HYBXMLParser.h"

#include <expat.h>

#include <fstream>
#include <limits>
#include <sstream>

namespace {

struct ParseState {
    HYBXMLParserDelegate* delegate;
    size_t depth = 0;
    bool documentElementEnded = false;
};

void XMLCALL onStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
    auto* state = static_cast<ParseState*>(userData);
    ++state->depth;
    state->delegate->didStartElement(name, HYBXMLAttributes(attributes));
}

void XMLCALL onEndElement(void* userData, const XML_Char* name) {
    auto* state = static_cast<ParseState*>(userData);
    state->documentElementEnded = --state->depth == 0;
    state->delegate->didEndElement(name);
}

// A document that declares entities may expand them; one that asks for an external subset
// or entity gets nothing read.
int XMLCALL refuseExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
    return XML_STATUS_ERROR;
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

}  // namespace

HYBXMLParser::HYBXMLParser(std::string document) : document_(std::move(document)) {}

std::shared_ptr<HYBXMLParser> HYBXMLParser::parserWithContentsOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxFileSize) return nullptr;
    in.seekg(0, std::ios::beg);
    std::string document(static_cast<size_t>(size), '\0');
    if (!in.read(document.data(), size)) return nullptr;
    return std::make_shared<HYBXMLParser>(std::move(document));
}

bool HYBXMLParser::parse() {
    error_.reset();
    cause_.clear();
    line_ = column_ = 0;
    readDocumentElement_ = false;
    HYBXMLParserDelegate fallback;
    ParseState state{delegate_ ? delegate_ : &fallback};
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        error_ = cause_ = "out of memory";
        state.delegate->parseErrorOccurred(*error_);
        return false;
    }
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), onStartElement, onEndElement);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetExternalEntityRefHandler(parser.get(), refuseExternalEntity);

    state.delegate->parserDidStartDocument();
    const size_t length = document_.size();
    const bool parsed = length <= static_cast<size_t>(std::numeric_limits<int>::max()) &&
                        XML_Parse(parser.get(), document_.data(), static_cast<int>(length),
                                  XML_TRUE) == XML_STATUS_OK;
    readDocumentElement_ = state.documentElementEnded;
    if (!parsed) {
        line_ = XML_GetCurrentLineNumber(parser.get());
        column_ = XML_GetCurrentColumnNumber(parser.get()) + 1;
        cause_ = XML_ErrorString(XML_GetErrorCode(parser.get()));
        std::ostringstream description;
        description << cause_ << " at line " << line_ << ", column " << column_;
        error_ = description.str();
        state.delegate->parseErrorOccurred(*error_);
        return false;
    }
    state.delegate->parserDidEndDocument();
    return true;
}
