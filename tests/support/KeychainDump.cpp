#include "tests/support/KeychainDump.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/sec/AttributeCodec.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainStore.h"
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

// Read from the file on a connection of its own: the process's keychain shows an application
// only its own groups, and a golden shows every item stored.
std::vector<ns::Dictionary> itemsOfClass(sec::KeychainStore* store, const char* itemClass) {
    std::vector<ns::Dictionary> items;
    if (!store) return items;
    sec::RowFilter filter;
    filter.itemClass = itemClass;
    store->select(filter, sec::KeychainStore::kAttributes | sec::KeychainStore::kData, false,
                  [&](const sec::RowView& row) {
                      auto item = sec::AttributeCodec::decode(row.attributes, row.attributesLength);
                      if (!item) return true;
                      item->insert_or_assign(sec::kSecClass, itemClass);
                      if (row.data) {
                          item->insert_or_assign(sec::kSecValueData,
                                                 ns::Data(row.data, row.dataLength));
                      }
                      items.push_back(std::move(*item));
                      return true;
                  });
    return items;
}

}  // namespace

std::string dumpKeychain(const KeychainDataDescriber& describeData,
                         const KeychainItemFilter& include) {
    auto store = sec::KeychainStore::open(sec::Keychain::shared().directory());
    std::vector<ns::Dictionary> items = itemsOfClass(store.get(), sec::kSecClassGenericPassword);
    for (auto& key : itemsOfClass(store.get(), sec::kSecClassKey)) items.push_back(std::move(key));
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
