#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "platform/svc/ABRecord.h"

namespace svc {

// The user's contacts: people and groups. Each opened address book is its own view of the
// stored contacts ("Library/AddressBook/AddressBook.plist" in the sandbox, replaced
// atomically): changes stay in it until saved. The host and tests decide whether the
// application may open it. One thread at a time per object.
class AddressBook : public ns::Object {
public:
    // Null when access is not granted. A stored file that cannot be read opens as empty.
    static std::shared_ptr<AddressBook> create();
    static void setAccessGranted(bool granted);
    static bool isAccessGranted();
    static std::string storePath();

    bool save();
    bool hasUnsavedChanges() const;
    // Adding gives a new record its identifier; a record can be in one address book only.
    bool addRecord(const std::shared_ptr<ABRecord>& record);
    bool removeRecord(const std::shared_ptr<ABRecord>& record);

    std::vector<std::shared_ptr<ABRecord>> people() const;
    std::vector<std::shared_ptr<ABRecord>> groups() const;
    std::shared_ptr<ABRecord> personWithRecordID(ABRecordID id) const;
    std::shared_ptr<ABRecord> groupWithRecordID(ABRecordID id) const;
    // People with a name (first, middle, last, nickname, organisation or the whole composite
    // name) that begins with the text, ignoring case, diacritics and width.
    std::vector<std::shared_ptr<ABRecord>> peopleWithName(std::string_view name) const;

    // "home" for kABHomeLabel and the like; other labels as they are.
    static std::string localizedLabel(std::string_view label);

private:
    ns::Value archive() const;
    void unarchive(const ns::Value& stored);
    std::shared_ptr<ABRecord> recordWithID(ABRecordID id, ABRecordType type) const;

    std::vector<std::shared_ptr<ABRecord>> records_;
    ABRecordID nextRecordID_ = 1;
    ns::Value saved_;
};

}  // namespace svc
