#pragma once

#include <string>

#include "platform/ns/Scanner.h"

// Cuts one balanced JSON object or array out of a larger text, starting at the scanner's
// location. Only the nesting of brackets and strings is checked, not the JSON grammar. On
// success the location moves past the closing bracket and the text (when asked for) is set;
// otherwise the location stops at the first character that can not start the text, or at
// the end.

bool tbx_scanJSONObjectString(ns::Scanner& scanner, std::string* jsonString);
bool tbx_scanJSONArrayString(ns::Scanner& scanner, std::string* jsonString);
bool tbx_scanJSONString(ns::Scanner& scanner, std::string* jsonString, char16_t startChar,
                        char16_t endChar);
