#include "platform/svc/ABRecord.h"

#include <algorithm>

#include "platform/ns/Format.h"

namespace svc {

namespace {

struct PersonProperty {
    ABPropertyID id;
    ABPropertyType type;
    const char* name;
};

constexpr PersonProperty kPersonProperties[] = {
    {kABPersonFirstNameProperty, kABStringPropertyType, "First"},
    {kABPersonLastNameProperty, kABStringPropertyType, "Last"},
    {kABPersonMiddleNameProperty, kABStringPropertyType, "Middle"},
    {kABPersonPrefixProperty, kABStringPropertyType, "Prefix"},
    {kABPersonSuffixProperty, kABStringPropertyType, "Suffix"},
    {kABPersonNicknameProperty, kABStringPropertyType, "Nickname"},
    {kABPersonOrganizationProperty, kABStringPropertyType, "Company"},
    {kABPersonJobTitleProperty, kABStringPropertyType, "Job Title"},
    {kABPersonDepartmentProperty, kABStringPropertyType, "Department"},
    {kABPersonNoteProperty, kABStringPropertyType, "Notes"},
    {kABPersonBirthdayProperty, kABDateTimePropertyType, "Birthday"},
    {kABPersonKindProperty, kABIntegerPropertyType, "Kind"},
    {kABPersonPhoneProperty, kABMultiStringPropertyType, "Phone"},
    {kABPersonEmailProperty, kABMultiStringPropertyType, "Email"},
    {kABPersonAddressProperty, kABMultiDictionaryPropertyType, "Address"},
    {kABPersonDateProperty, kABMultiDateTimePropertyType, "Date"},
    {kABPersonURLProperty, kABMultiStringPropertyType, "URL"},
};

const ns::Value* plainValue(const ABRecord::PropertyValue& value) {
    return std::get_if<ns::Value>(&value);
}

}  // namespace

std::shared_ptr<ABRecord> ABRecord::createPerson() {
    return std::make_shared<ABRecord>(ABRecordType::Person);
}

std::shared_ptr<ABRecord> ABRecord::createGroup() {
    return std::make_shared<ABRecord>(ABRecordType::Group);
}

ABPropertyType ABRecord::typeOfProperty(ABRecordType type, ABPropertyID property) {
    if (type == ABRecordType::Group) {
        return property == kABGroupNameProperty ? kABStringPropertyType : kABInvalidPropertyType;
    }
    for (const auto& p : kPersonProperties) {
        if (p.id == property) return p.type;
    }
    return kABInvalidPropertyType;
}

std::string ABRecord::localizedPersonPropertyName(ABPropertyID property) {
    for (const auto& p : kPersonProperties) {
        if (p.id == property) return p.name;
    }
    return "";
}

std::optional<ABRecord::PropertyValue> ABRecord::copyValue(ABPropertyID property) const {
    auto found = properties_.find(property);
    if (found == properties_.end()) return std::nullopt;
    if (const auto* multi = std::get_if<std::shared_ptr<ABMultiValue>>(&found->second)) {
        auto copy = (*multi)->mutableCopy();
        copy->makeImmutable();
        return PropertyValue(copy);
    }
    return found->second;
}

bool ABRecord::setValue(ABPropertyID property, const PropertyValue& value) {
    ABPropertyType type = typeOfProperty(type_, property);
    if (type == kABInvalidPropertyType) return false;
    if (type & kABMultiValueMask) {
        const auto* multi = std::get_if<std::shared_ptr<ABMultiValue>>(&value);
        if (!multi || !*multi || (*multi)->propertyType() != type) return false;
        properties_[property] = (*multi)->mutableCopy();
        return true;
    }
    const ns::Value* plain = plainValue(value);
    if (!plain || !ABMultiValue::valueFitsType(*plain, type)) return false;
    properties_[property] = *plain;
    return true;
}

bool ABRecord::removeValue(ABPropertyID property) {
    return properties_.erase(property) > 0;
}

std::string ABRecord::compositeName() const {
    auto text = [&](ABPropertyID property) -> std::string {
        auto found = properties_.find(property);
        if (found == properties_.end()) return {};
        const ns::Value* plain = plainValue(found->second);
        return plain && plain->string() ? *plain->string() : std::string();
    };
    if (type_ == ABRecordType::Group) return text(kABGroupNameProperty);
    std::string joined;
    for (ABPropertyID part :
         {kABPersonPrefixProperty, kABPersonFirstNameProperty, kABPersonMiddleNameProperty,
          kABPersonLastNameProperty, kABPersonSuffixProperty}) {
        std::string piece = text(part);
        if (piece.empty()) continue;
        if (!joined.empty()) joined += ' ';
        joined += piece;
    }
    return joined.empty() ? text(kABPersonOrganizationProperty) : joined;
}

bool ABRecord::setImageData(std::optional<ns::Data> data) {
    if (type_ != ABRecordType::Person) return false;
    image_ = std::move(data);
    return true;
}

std::vector<std::shared_ptr<ABRecord>> ABRecord::members() const {
    std::vector<std::shared_ptr<ABRecord>> out;
    for (const auto& member : members_) {
        if (auto person = member.lock()) out.push_back(std::move(person));
    }
    return out;
}

bool ABRecord::addMember(const std::shared_ptr<ABRecord>& person) {
    if (type_ != ABRecordType::Group || !person || person->type_ != ABRecordType::Person) {
        return false;
    }
    for (const auto& member : members_) {
        if (member.lock() == person) return true;
    }
    members_.push_back(person);
    return true;
}

bool ABRecord::removeMember(const ABRecord* person) {
    bool found = false;
    std::erase_if(members_, [&](const std::weak_ptr<ABRecord>& member) {
        auto live = member.lock();
        if (person && live.get() == person) found = true;
        return !live || live.get() == person;
    });
    return found;
}

std::string ABRecord::description() const {
    return ns::format("<ABRecord %d: %@>", id_, compositeName());
}

}  // namespace svc
