#include "toolbox/iPhone/NSDK_TBXABAddressBook.h"

#include "platform/ns/StringFolding.h"

namespace {

std::vector<std::shared_ptr<NSDK_TBXABPerson>> wrapPeople(
    const std::vector<std::shared_ptr<svc::ABRecord>>& records) {
    std::vector<std::shared_ptr<NSDK_TBXABPerson>> out;
    for (const auto& record : records) {
        if (auto person = NSDK_TBXABPerson::recordWithRecord(record)) out.push_back(person);
    }
    return out;
}

}  // namespace

std::shared_ptr<NSDK_TBXABAddressBook> NSDK_TBXABAddressBook::addressBook() {
    auto book = svc::AddressBook::create();
    if (!book) return nullptr;
    return std::make_shared<NSDK_TBXABAddressBook>(std::move(book));
}

bool NSDK_TBXABAddressBook::addRecord(const std::shared_ptr<NSDK_TBXABRecord>& record) {
    return record && addressBook_->addRecord(record->recordRef());
}

bool NSDK_TBXABAddressBook::removeRecord(const std::shared_ptr<NSDK_TBXABRecord>& record) {
    return record && addressBook_->removeRecord(record->recordRef());
}

std::vector<std::shared_ptr<NSDK_TBXABPerson>> NSDK_TBXABAddressBook::people() const {
    return wrapPeople(addressBook_->people());
}

std::vector<std::shared_ptr<NSDK_TBXABGroup>> NSDK_TBXABAddressBook::groups() const {
    std::vector<std::shared_ptr<NSDK_TBXABGroup>> out;
    for (const auto& record : addressBook_->groups()) {
        if (auto group = NSDK_TBXABGroup::recordWithRecord(record)) out.push_back(group);
    }
    return out;
}

std::shared_ptr<NSDK_TBXABPerson> NSDK_TBXABAddressBook::personForId(svc::ABRecordID id) const {
    return NSDK_TBXABPerson::recordWithRecord(addressBook_->personWithRecordID(id));
}

std::shared_ptr<NSDK_TBXABGroup> NSDK_TBXABAddressBook::groupForId(svc::ABRecordID id) const {
    return NSDK_TBXABGroup::recordWithRecord(addressBook_->groupWithRecordID(id));
}

std::vector<std::shared_ptr<NSDK_TBXABPerson>>
NSDK_TBXABAddressBook::peopleWithCompositeNameWithPrefix(std::string_view prefix) const {
    return wrapPeople(addressBook_->peopleWithName(prefix));
}

std::vector<std::shared_ptr<NSDK_TBXABGroup>>
NSDK_TBXABAddressBook::groupsWithCompositeNameWithPrefix(std::string_view prefix) const {
    std::vector<std::shared_ptr<NSDK_TBXABGroup>> out;
    for (auto& group : groups()) {
        if (ns::StringFolding::hasPrefix(group->compositeName(), prefix)) out.push_back(group);
    }
    return out;
}
