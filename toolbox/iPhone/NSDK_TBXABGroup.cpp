#include "toolbox/iPhone/NSDK_TBXABGroup.h"

#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"

NSDK_TBXABGroup::NSDK_TBXABGroup() : NSDK_TBXABGroup(svc::ABRecord::createGroup()) {}

std::shared_ptr<NSDK_TBXABGroup> NSDK_TBXABGroup::recordWithRecord(
    std::shared_ptr<svc::ABRecord> record) {
    if (!record || record->recordType() != svc::ABRecordType::Group) return nullptr;
    return std::make_shared<NSDK_TBXABGroup>(std::move(record));
}

std::shared_ptr<NSDK_TBXABGroup> NSDK_TBXABGroup::groupNamed(const std::string& name) {
    auto group = std::make_shared<NSDK_TBXABGroup>();
    if (!group->setValue(ns::Value(name), svc::kABGroupNameProperty)) return nullptr;
    return group;
}

std::vector<std::shared_ptr<NSDK_TBXABPerson>> NSDK_TBXABGroup::members() const {
    std::vector<std::shared_ptr<NSDK_TBXABPerson>> out;
    for (auto& member : record_->members()) {
        if (auto person = NSDK_TBXABPerson::recordWithRecord(member)) out.push_back(person);
    }
    return out;
}

bool NSDK_TBXABGroup::addMember(const std::shared_ptr<NSDK_TBXABPerson>& person) {
    return person && record_->addMember(person->recordRef());
}

bool NSDK_TBXABGroup::removeMember(const std::shared_ptr<NSDK_TBXABPerson>& person) {
    return person && record_->removeMember(person->recordRef().get());
}

std::string NSDK_TBXABGroup::description() const {
    return ns::format("%@ %@ %d", "NSDK_TBXABGroup", compositeName(), recordID());
}

svc::ABPropertyType NSDK_TBXABGroup::typeOfProperty(svc::ABPropertyID property) {
    return property == svc::kABGroupNameProperty ? svc::kABStringPropertyType
                                                 : svc::kABInvalidPropertyType;
}

std::string NSDK_TBXABGroup::localizedPropertyName(svc::ABPropertyID property) {
    if (property != svc::kABGroupNameProperty) return "UNKNOWN_PROPERTY";
    return ns::Bundle::mainBundle()->localizedStringForKey("Name", "",
                                                           kTBXABAddressBookStringsTable);
}
