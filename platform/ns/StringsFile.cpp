#include "platform/ns/StringsFile.h"

#include <algorithm>
#include <optional>

#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF16.h"

namespace ns {
namespace {

bool isUnquotedChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

// Invalid UTF-8 bytes become U+FFFD, so that every key and value is well-formed text.
std::string wellFormed(std::string s) {
    if (std::all_of(s.begin(), s.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return s;
    }
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) appendUTF8(out, nextCodePoint(s, i));
    return out;
}

class TextParser {
public:
    explicit TextParser(std::string_view text) : s_(text) {}

    Result<StringsTable> parse() {
        StringsTable table;
        for (;;) {
            if (!skipSpace()) return error_;
            if (i_ >= s_.size()) break;
            auto key = readString();
            if (!key) return error_;
            if (!skipSpace()) return error_;
            std::string value;
            if (peek() == '=') {
                ++i_;
                if (!skipSpace()) return error_;
                auto v = readString();
                if (!v) return error_;
                value = std::move(*v);
                if (!skipSpace()) return error_;
            } else {
                value = *key;
            }
            if (peek() != ';') {
                fail("expected ';'");
                return error_;
            }
            ++i_;
            table.insert_or_assign(wellFormed(std::move(*key)), wellFormed(std::move(value)));
        }
        return table;
    }

private:
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }

    std::nullopt_t fail(const std::string& what) {
        auto line = std::count(s_.begin(), s_.begin() + static_cast<ptrdiff_t>(i_), '\n') + 1;
        error_ =
            cocoaError(kPropertyListReadCorruptError, what + " on line " + std::to_string(line));
        return std::nullopt;
    }

    // Skips white space and comments; false for a comment that never ends.
    bool skipSpace() {
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
                auto end = s_.find("*/", i_ + 2);
                if (end == std::string_view::npos) {
                    fail("unterminated comment");
                    return false;
                }
                i_ = end + 2;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/') {
                auto end = s_.find('\n', i_);
                i_ = end == std::string_view::npos ? s_.size() : end + 1;
            } else {
                break;
            }
        }
        return true;
    }

    std::optional<std::string> readString() {
        if (peek() == '"') return readQuoted();
        size_t start = i_;
        while (i_ < s_.size() && isUnquotedChar(s_[i_])) ++i_;
        if (i_ == start) {
            return i_ < s_.size() ? fail("unexpected character") : fail("unexpected end");
        }
        return std::string(s_.substr(start, i_ - start));
    }

    std::optional<std::string> readQuoted() {
        ++i_;  // opening quote
        std::string out;
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) break;
            char e = s_[i_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'a':
                    out += '\a';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'v':
                    out += '\v';
                    break;
                case 'u':
                case 'U':
                    appendUTF8(out, readUnicodeEscape());
                    break;
                default:
                    if (e >= '0' && e <= '7') {
                        appendUTF8(out, readOctal(e));
                    } else {
                        out += e;  // \" \\ \' and any other character stand for themselves
                    }
            }
        }
        return fail("unterminated string");
    }

    // Up to four hex digits after \u; a high surrogate joins a following \u low surrogate.
    char32_t readUnicodeEscape() {
        char32_t unit = readHex4();
        if (unit >= 0xD800 && unit <= 0xDBFF && i_ + 1 < s_.size() && s_[i_] == '\\' &&
            (s_[i_ + 1] == 'u' || s_[i_ + 1] == 'U')) {
            size_t save = i_;
            i_ += 2;
            char32_t low = readHex4();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
            i_ = save;  // not a pair: the high half alone reads as U+FFFD
        }
        return unit;
    }

    char32_t readHex4() {
        char32_t value = 0;
        for (int n = 0; n < 4 && i_ < s_.size(); ++n) {
            int d = hexDigitValue(s_[i_]);
            if (d < 0) break;
            value = value * 16 + static_cast<char32_t>(d);
            ++i_;
        }
        return value;
    }

    char32_t readOctal(char first) {
        char32_t value = static_cast<char32_t>(first - '0');
        for (int n = 1; n < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++n) {
            value = value * 8 + static_cast<char32_t>(s_[i_++] - '0');
        }
        return value;
    }

    std::string_view s_;
    size_t i_ = 0;
    Error error_;
};

std::optional<std::string> decodeUTF16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t k = 0; k < units.size(); ++k) {
        auto hi = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 0 : 1)]);
        auto lo = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 1 : 0)]);
        units[k] = static_cast<char16_t>((hi << 8) | lo);
    }
    return fromUTF16(units);
}

bool looksLikeXMLPlist(std::string_view text) {
    auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    return text.starts_with("<?xml") || text.starts_with("<!DOCTYPE") || text.starts_with("<plist");
}

Result<StringsTable> tableFromPropertyList(const Data& data) {
    auto plist = PropertyListSerialization::read(data);
    if (!plist) return plist.error();
    const Dictionary* dict = plist->dictionary();
    if (!dict) {
        return cocoaError(kPropertyListReadCorruptError, "a strings table must be a dictionary");
    }
    StringsTable table;
    for (const auto& [key, value] : *dict) {
        if (const std::string* s = value.string()) table.emplace(wellFormed(key), wellFormed(*s));
    }
    return table;
}

}  // namespace

Result<StringsTable> StringsFile::parseText(std::string_view utf8) {
    return TextParser(utf8).parse();
}

Result<StringsTable> StringsFile::parse(const Data& data) {
    std::string_view bytes = data.chars();
    if (bytes.starts_with("bplist")) return tableFromPropertyList(data);
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        auto text = decodeUTF16(bytes.substr(2), bytes[0] == '\xFE');
        if (!text) {
            return cocoaError(kPropertyListReadCorruptError, "odd number of bytes in UTF-16 text");
        }
        if (looksLikeXMLPlist(*text)) return tableFromPropertyList(Data::fromString(*text));
        return parseText(*text);
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (looksLikeXMLPlist(bytes)) return tableFromPropertyList(data);
    return parseText(bytes);
}

StringsTable StringsFile::load(const std::string& path) {
    auto data = FileManager::defaultManager().contentsAtPath(path);
    if (!data) return {};
    auto table = parse(*data);
    if (!table) {
        auto reason = table.error().userInfo().find(kDebugDescriptionErrorKey);
        Log::write(LogLevel::Error, "Ignoring the malformed strings file " + path + ": " +
                                        (reason != table.error().userInfo().end()
                                             ? reason->second.stringValue()
                                             : table.error().localizedDescription()));
        return {};
    }
    return std::move(*table);
}

}  // namespace ns
