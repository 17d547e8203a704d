#include "plugins/media_browser/HYBInAppBrowserOptions.h"

#include <cctype>
#include <map>
#include <variant>
#include <vector>

#include "platform/ns/StringComponents.h"
#include "platform/ns/Value.h"

namespace {

// A value as the option string gives it: a number, yes/no, or text.
using OptionValue = std::variant<double, bool, std::string>;

// A decimal number as a number formatter reads one: optional sign, digits with at most one
// decimal point, at least one digit, nothing else.
std::optional<double> readNumber(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i]))) {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
}

OptionValue convert(std::string_view value) {
    const std::string lower = ns::asciiLowercased(value);
    if (auto number = readNumber(lower)) return *number;
    if (lower == "yes") return true;
    if (lower == "no") return false;
    return std::string(value);
}

bool asBool(const OptionValue& value) {
    if (const auto* number = std::get_if<double>(&value)) return *number != 0;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag;
    // Text counts as true when, after blanks, a sign and leading zeros, it starts with y, t or
    // a non-zero digit: the platform's boolean reading of a string.
    return ns::Value(std::get<std::string>(value)).boolValue();
}

using Options = HYBInAppBrowserOptions;
using BoolField = bool Options::*;
using TextField = std::optional<std::string> Options::*;

const std::map<std::string, BoolField, std::less<>>& boolFields() {
    static const std::map<std::string, BoolField, std::less<>> fields{
        {"location", &Options::location},
        {"toolbar", &Options::toolbar},
        {"lefttoright", &Options::lefttoright},
        {"toolbartranslucent", &Options::toolbartranslucent},
        {"hidenavigationbuttons", &Options::hidenavigationbuttons},
        {"cleardata", &Options::cleardata},
        {"clearcache", &Options::clearcache},
        {"clearsessioncache", &Options::clearsessioncache},
        {"hidespinner", &Options::hidespinner},
        {"enableviewportscale", &Options::enableviewportscale},
        {"mediaplaybackrequiresuseraction", &Options::mediaplaybackrequiresuseraction},
        {"allowinlinemediaplayback", &Options::allowinlinemediaplayback},
        {"hidden", &Options::hidden},
        {"disallowoverscroll", &Options::disallowoverscroll},
    };
    return fields;
}

const std::map<std::string, TextField, std::less<>>& textFields() {
    static const std::map<std::string, TextField, std::less<>> fields{
        {"closebuttoncaption", &Options::closebuttoncaption},
        {"closebuttoncolor", &Options::closebuttoncolor},
        {"toolbarcolor", &Options::toolbarcolor},
        {"navigationbuttoncolor", &Options::navigationbuttoncolor},
        {"presentationstyle", &Options::presentationstyle},
        {"transitionstyle", &Options::transitionstyle},
    };
    return fields;
}

}  // namespace

HYBInAppBrowserOptions HYBInAppBrowserOptions::parseOptions(std::string_view options) {
    HYBInAppBrowserOptions parsed;
    for (std::string_view piece : ns::componentsSeparatedByCharacter(options, ',')) {
        const auto parts = ns::componentsSeparatedByCharacter(piece, '=');
        if (parts.size() != 2) continue;
        const std::string key = ns::asciiLowercased(parts[0]);
        const OptionValue value = convert(parts[1]);
        if (auto it = boolFields().find(key); it != boolFields().end()) {
            parsed.*(it->second) = asBool(value);
        } else if (auto text = textFields().find(key); text != textFields().end()) {
            // A consumer of a text option must never see a number or a boolean.
            if (const auto* s = std::get_if<std::string>(&value)) parsed.*(text->second) = *s;
        } else if (key == "toolbarposition") {
            if (const auto* s = std::get_if<std::string>(&value)) parsed.toolbarposition = *s;
        } else if (key == "beforeload") {
            const auto* s = std::get_if<std::string>(&value);
            parsed.beforeload = s ? *s : "yes";
        }
    }
    return parsed;
}
