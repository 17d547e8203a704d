#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"

namespace ui {

// A pasteboard holding one item as text under one or more type identifiers.
class Pasteboard {
public:
    static constexpr const char* kTypePlainUTF8Text = "public.utf8-plain-text";
    static constexpr const char* kTypeText = "public.text";
    static constexpr const char* kTypePlainText = "public.plain-text";

    static Pasteboard& general();

    // The item's text under any of the text types; nullopt when it holds none.
    std::optional<std::string> string() const;
    // Replaces the contents with the text as UTF-8 plain text (nullopt empties it).
    void setString(std::optional<std::string> text);
    // Replaces the contents with the value under that one type.
    void setValue(std::string value, std::string type);
    std::vector<std::string> types() const;
    void clear();

private:
    mutable dispatch::Mutex mutex_;
    std::map<std::string, std::string> item_ GUARDED_BY(mutex_);
};

}  // namespace ui
