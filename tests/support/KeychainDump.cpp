#include "tests/support/KeychainDump.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "tests/support/Golden.h"

namespace testsupport {
namespace {

std::string textOf(const ns::Dictionary& item, const char* key) {
    auto found = item.find(key);
    if (found == item.end()) return {};
    if (const auto* text = found->second.string()) return *text;
    if (const auto* data = found->second.data()) return std::string(data->chars());
    return found->second.description();
}

std::string describeValue(const std::string& name, const ns::Value& value,
                          const ns::Dictionary& item, const KeychainDataDescriber& describeData) {
    if (const auto* data = value.data()) {
        if (describeData) {
            if (auto shown = describeData(name, *data, item)) return "data " + *shown;
        }
        std::string bytes(data->chars());
        std::string shown = describeBytes(bytes);
        if (!shown.empty() && shown.back() == '\n') shown.pop_back();
        return "data " + shown;
    }
    if (const auto* text = value.string()) return "string \"" + *text + "\"";
    if (value.isBool()) return std::string("bool ") + (*value.boolean() ? "true" : "false");
    if (value.isInteger()) return "integer " + value.description();
    return "other " + value.description();
}

std::vector<ns::Dictionary> itemsOfClass(const char* itemClass) {
    ns::Value result;
    sec::OSStatus status =
        sec::Keychain::shared().copyMatching({{sec::kSecClass, itemClass},
                                              {sec::kSecMatchLimit, sec::kSecMatchLimitAll},
                                              {sec::kSecReturnAttributes, true},
                                              {sec::kSecReturnData, true}},
                                             &result);
    std::vector<ns::Dictionary> items;
    if (status != sec::errSecSuccess || !result.array()) return items;
    for (const auto& entry : *result.array()) {
        if (const auto* item = entry.dictionary()) items.push_back(*item);
    }
    return items;
}

}  // namespace

std::string dumpKeychain(const KeychainDataDescriber& describeData,
                         const KeychainItemFilter& include) {
    std::vector<ns::Dictionary> items = itemsOfClass(sec::kSecClassGenericPassword);
    for (auto& key : itemsOfClass(sec::kSecClassKey)) items.push_back(std::move(key));
    if (include) std::erase_if(items, [&](const ns::Dictionary& item) { return !include(item); });
    auto sortKey = [](const ns::Dictionary& item) {
        return std::make_tuple(textOf(item, sec::kSecClass), textOf(item, sec::kSecAttrService),
                               textOf(item, sec::kSecAttrAccount),
                               textOf(item, sec::kSecAttrApplicationTag));
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const auto& a, const auto& b) { return sortKey(a) < sortKey(b); });
    std::string out;
    for (const auto& item : items) {
        out += "item " + textOf(item, sec::kSecClass) + "\n";
        for (const auto& [name, value] : item) {
            if (name == sec::kSecClass) continue;
            out += "  " + name + " = " + describeValue(name, value, item, describeData) + "\n";
        }
    }
    if (items.empty()) out = "(no items)\n";
    return out;
}

namespace {
ScopedKeychain* innermost = nullptr;
}  // namespace

ScopedKeychain::ScopedKeychain(std::optional<std::filesystem::path> directory)
    : enclosing_(innermost) {
    if (!directory) directory = own_.emplace().path();
    directory_ = *directory;
    innermost = this;
    sec::Keychain::setDirectory(directory_);
}

ScopedKeychain::~ScopedKeychain() {
    innermost = enclosing_;
    sec::Keychain::setDirectory(enclosing_ ? enclosing_->directory_
                                           : sec::Keychain::defaultDirectory());
}

}  // namespace testsupport
