#pragma once

#include <string>
#include <string_view>

// The text as a JavaScript string literal (JSON-escaped, in double quotes): whatever it
// holds, pasted into a script it stays one string value.
std::string hyb_JavaScriptStringLiteral(std::string_view text);
