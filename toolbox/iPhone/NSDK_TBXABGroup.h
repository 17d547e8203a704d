#pragma once

#include <memory>
#include <string>
#include <vector>

#include "toolbox/iPhone/NSDK_TBXABPerson.h"
#include "toolbox/iPhone/NSDK_TBXABRecord.h"

// Strings table of the group's property names.
inline constexpr const char* kTBXABAddressBookStringsTable = "TBXABAddressBook";

// A group of people of the address book.
class NSDK_TBXABGroup : public NSDK_TBXABRecord {
public:
    // A new group.
    NSDK_TBXABGroup();
    // Null for no record or one that is not a group.
    static std::shared_ptr<NSDK_TBXABGroup> recordWithRecord(std::shared_ptr<svc::ABRecord> record);
    // A new group with the name; null when it cannot be set.
    static std::shared_ptr<NSDK_TBXABGroup> groupNamed(const std::string& name);

    std::vector<std::shared_ptr<NSDK_TBXABPerson>> members() const;
    bool addMember(const std::shared_ptr<NSDK_TBXABPerson>& person);
    bool removeMember(const std::shared_ptr<NSDK_TBXABPerson>& person);

    // "NSDK_TBXABGroup name id".
    std::string description() const override;

    // A string for the name property, nothing else.
    static svc::ABPropertyType typeOfProperty(svc::ABPropertyID property);
    // The application's text for "Name", or "UNKNOWN_PROPERTY".
    static std::string localizedPropertyName(svc::ABPropertyID property);

    explicit NSDK_TBXABGroup(std::shared_ptr<svc::ABRecord> record)
        : NSDK_TBXABRecord(std::move(record), &typeOfProperty, &localizedPropertyName) {}
};
