#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/svc/AddressBook.h"
#include "toolbox/iPhone/NSDK_TBXABGroup.h"
#include "toolbox/iPhone/NSDK_TBXABPerson.h"
#include "toolbox/iPhone/NSDK_TBXABRecord.h"

// A wrapper of the address book that hands out wrapped people and groups.
class NSDK_TBXABAddressBook : public ns::Object {
public:
    // Null when the address book cannot be opened.
    static std::shared_ptr<NSDK_TBXABAddressBook> addressBook();
    explicit NSDK_TBXABAddressBook(std::shared_ptr<svc::AddressBook> book)
        : addressBook_(std::move(book)) {}

    bool save() { return addressBook_->save(); }
    bool hasUnsavedChanges() const { return addressBook_->hasUnsavedChanges(); }
    // False for no record.
    bool addRecord(const std::shared_ptr<NSDK_TBXABRecord>& record);
    bool removeRecord(const std::shared_ptr<NSDK_TBXABRecord>& record);

    std::vector<std::shared_ptr<NSDK_TBXABPerson>> people() const;
    std::vector<std::shared_ptr<NSDK_TBXABGroup>> groups() const;
    std::shared_ptr<NSDK_TBXABPerson> personForId(svc::ABRecordID id) const;
    std::shared_ptr<NSDK_TBXABGroup> groupForId(svc::ABRecordID id) const;
    // The address book's search of people by name.
    std::vector<std::shared_ptr<NSDK_TBXABPerson>> peopleWithCompositeNameWithPrefix(
        std::string_view prefix) const;
    // Groups whose name begins with the prefix, ignoring case, diacritics and width.
    std::vector<std::shared_ptr<NSDK_TBXABGroup>> groupsWithCompositeNameWithPrefix(
        std::string_view prefix) const;

    static std::string localizedLabel(std::string_view label) {
        return svc::AddressBook::localizedLabel(label);
    }
    const std::shared_ptr<svc::AddressBook>& addressBookRef() const { return addressBook_; }

private:
    std::shared_ptr<svc::AddressBook> addressBook_;
};
