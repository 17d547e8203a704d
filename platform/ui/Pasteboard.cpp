#include "platform/ui/Pasteboard.h"

namespace ui {

Pasteboard& Pasteboard::general() {
    static Pasteboard board;
    return board;
}

std::optional<std::string> Pasteboard::string() const {
    dispatch::Lock lock(mutex_);
    for (const char* type : {kTypePlainUTF8Text, kTypePlainText, kTypeText}) {
        if (auto it = item_.find(type); it != item_.end()) return it->second;
    }
    return std::nullopt;
}

void Pasteboard::setString(std::optional<std::string> text) {
    dispatch::Lock lock(mutex_);
    item_.clear();
    if (text) item_[kTypePlainUTF8Text] = std::move(*text);
}

void Pasteboard::setValue(std::string value, std::string type) {
    dispatch::Lock lock(mutex_);
    item_.clear();
    item_[std::move(type)] = std::move(value);
}

std::vector<std::string> Pasteboard::types() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> out;
    for (auto& [type, value] : item_) out.push_back(type);
    return out;
}

void Pasteboard::clear() {
    dispatch::Lock lock(mutex_);
    item_.clear();
}

}  // namespace ui
