#include "platform/svc/AddressBook.h"

#include <atomic>
#include <cctype>
#include <climits>

#include "platform/ns/FileManager.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/StringFolding.h"

namespace svc {

namespace {

std::atomic<bool>& accessGranted() {
    static std::atomic<bool> granted{true};
    return granted;
}

constexpr const char* kMultiValueKey = "multi";

}  // namespace

void AddressBook::setAccessGranted(bool granted) {
    accessGranted() = granted;
}

bool AddressBook::isAccessGranted() {
    return accessGranted();
}

std::string AddressBook::storePath() {
    return ns::Sandbox::libraryDirectory() + "/AddressBook/AddressBook.plist";
}

std::shared_ptr<AddressBook> AddressBook::create() {
    if (!isAccessGranted()) return nullptr;
    auto book = std::make_shared<AddressBook>();
    auto stored = ns::PropertyListSerialization::readFile(storePath());
    if (stored.ok()) book->unarchive(*stored);
    book->saved_ = book->archive();
    return book;
}

ns::Value AddressBook::archive() const {
    ns::Array records;
    for (const auto& record : records_) {
        ns::Dictionary properties;
        for (const auto& [property, value] : record->properties_) {
            if (const auto* multi = std::get_if<std::shared_ptr<ABMultiValue>>(&value)) {
                properties.emplace(std::to_string(property),
                                   ns::Value::dict({{kMultiValueKey, (*multi)->archive()}}));
            } else {
                properties.emplace(std::to_string(property), std::get<ns::Value>(value));
            }
        }
        ns::Dictionary entry{{"id", record->id_},
                             {"type", static_cast<int64_t>(record->type_)},
                             {"properties", ns::Value(std::move(properties))}};
        if (record->image_) entry.emplace("image", *record->image_);
        ns::Array members;
        for (const auto& member : record->members()) {
            if (member->id_ != kABRecordInvalidID) members.push_back(member->id_);
        }
        if (!members.empty()) entry.emplace("members", ns::Value(std::move(members)));
        records.push_back(ns::Value(std::move(entry)));
    }
    return ns::Value::dict({{"next", nextRecordID_}, {"records", ns::Value(std::move(records))}});
}

// The stored file is read defensively: an entry of the wrong shape is skipped.
void AddressBook::unarchive(const ns::Value& stored) {
    auto next = stored["next"].int64();
    const ns::Array* records = stored["records"].array();
    if (!next || !records || *next < 1 || *next > INT32_MAX) return;
    nextRecordID_ = static_cast<ABRecordID>(*next);
    std::vector<std::pair<std::shared_ptr<ABRecord>, const ns::Array*>> groups;
    for (const auto& entry : *records) {
        auto id = entry["id"].int64();
        auto type = entry["type"].int64();
        const ns::Dictionary* properties = entry["properties"].dictionary();
        if (!id || !type || !properties || *id < 1 || *id >= nextRecordID_ || *type < 0 ||
            *type > 1 || recordWithID(static_cast<ABRecordID>(*id), ABRecordType::Person) ||
            recordWithID(static_cast<ABRecordID>(*id), ABRecordType::Group)) {
            continue;
        }
        auto record = std::make_shared<ABRecord>(static_cast<ABRecordType>(*type));
        record->id_ = static_cast<ABRecordID>(*id);
        for (const auto& [key, value] : *properties) {
            ABPropertyID property = ns::Value(key).intValue();
            if (std::to_string(property) != key) continue;
            if (const ns::Value* multi = value.find(kMultiValueKey)) {
                if (auto unarchived = ABMultiValue::unarchive(*multi)) {
                    record->setValue(property, unarchived);
                }
            } else {
                record->setValue(property, value);
            }
        }
        if (const ns::Data* image = entry["image"].data()) record->setImageData(*image);
        if (const ns::Array* members = entry["members"].array())
            groups.emplace_back(record, members);
        records_.push_back(std::move(record));
    }
    for (const auto& [group, members] : groups) {
        for (const auto& member : *members) {
            auto id = member.int64();
            if (!id || *id < 1 || *id > INT32_MAX) continue;
            group->addMember(recordWithID(static_cast<ABRecordID>(*id), ABRecordType::Person));
        }
    }
}

bool AddressBook::save() {
    ns::Value current = archive();
    std::string folder = ns::Sandbox::libraryDirectory() + "/AddressBook";
    if (!ns::FileManager::defaultManager().createDirectory(folder, true).ok()) return false;
    auto written = ns::PropertyListSerialization::writeFileAtomically(
        storePath(), current, ns::PropertyListSerialization::Format::Binary);
    if (!written.ok()) return false;
    saved_ = std::move(current);
    return true;
}

bool AddressBook::hasUnsavedChanges() const {
    return !(archive() == saved_);
}

bool AddressBook::addRecord(const std::shared_ptr<ABRecord>& record) {
    if (!record) return false;
    for (const auto& existing : records_) {
        if (existing == record) return true;
    }
    if (record->id_ != kABRecordInvalidID || nextRecordID_ == INT32_MAX) return false;
    record->id_ = nextRecordID_++;
    records_.push_back(record);
    return true;
}

bool AddressBook::removeRecord(const std::shared_ptr<ABRecord>& record) {
    auto before = records_.size();
    std::erase(records_, record);
    if (records_.size() == before) return false;
    for (const auto& other : records_) other->removeMember(record.get());
    return true;
}

std::shared_ptr<ABRecord> AddressBook::recordWithID(ABRecordID id, ABRecordType type) const {
    for (const auto& record : records_) {
        if (record->id_ == id && record->type_ == type) return record;
    }
    return nullptr;
}

std::vector<std::shared_ptr<ABRecord>> AddressBook::people() const {
    std::vector<std::shared_ptr<ABRecord>> out;
    for (const auto& record : records_) {
        if (record->type_ == ABRecordType::Person) out.push_back(record);
    }
    return out;
}

std::vector<std::shared_ptr<ABRecord>> AddressBook::groups() const {
    std::vector<std::shared_ptr<ABRecord>> out;
    for (const auto& record : records_) {
        if (record->type_ == ABRecordType::Group) out.push_back(record);
    }
    return out;
}

std::shared_ptr<ABRecord> AddressBook::personWithRecordID(ABRecordID id) const {
    return recordWithID(id, ABRecordType::Person);
}

std::shared_ptr<ABRecord> AddressBook::groupWithRecordID(ABRecordID id) const {
    return recordWithID(id, ABRecordType::Group);
}

std::vector<std::shared_ptr<ABRecord>> AddressBook::peopleWithName(std::string_view name) const {
    std::vector<std::shared_ptr<ABRecord>> out;
    for (const auto& person : people()) {
        bool matches = ns::StringFolding::hasPrefix(person->compositeName(), name);
        for (ABPropertyID part :
             {kABPersonFirstNameProperty, kABPersonMiddleNameProperty, kABPersonLastNameProperty,
              kABPersonNicknameProperty, kABPersonOrganizationProperty}) {
            if (matches) break;
            auto value = person->copyValue(part);
            const ns::Value* plain = value ? std::get_if<ns::Value>(&*value) : nullptr;
            matches =
                plain && plain->string() && ns::StringFolding::hasPrefix(*plain->string(), name);
        }
        if (matches) out.push_back(person);
    }
    return out;
}

std::string AddressBook::localizedLabel(std::string_view label) {
    constexpr std::string_view open = "_$!<";
    constexpr std::string_view close = ">!$_";
    if (label.size() > open.size() + close.size() && label.starts_with(open) &&
        label.ends_with(close)) {
        std::string_view inner =
            label.substr(open.size(), label.size() - open.size() - close.size());
        if (inner == "HomePage") return "home page";
        return ns::asciiLowercased(inner);
    }
    return std::string(label);
}

}  // namespace svc
