#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "platform/svc/ABMultiValue.h"
#include "platform/svc/ABTypes.h"

namespace svc {

// A person or a group of the address book: typed properties, and a person's image or a
// group's members. A record gets its identifier when it is added to an address book.
class ABRecord : public ns::Object {
public:
    using PropertyValue = std::variant<ns::Value, std::shared_ptr<ABMultiValue>>;

    static std::shared_ptr<ABRecord> createPerson();
    static std::shared_ptr<ABRecord> createGroup();

    explicit ABRecord(ABRecordType type) : type_(type) {}

    ABRecordType recordType() const { return type_; }
    ABRecordID recordID() const { return id_; }

    // The type of a property of people or of groups; kABInvalidPropertyType for none.
    static ABPropertyType typeOfProperty(ABRecordType type, ABPropertyID property);
    static std::string localizedPersonPropertyName(ABPropertyID property);
    // 0: first name first.
    static int personCompositeNameFormat() { return 0; }

    // A copy of the value (a multi-value comes back immutable); nothing when unset.
    std::optional<PropertyValue> copyValue(ABPropertyID property) const;
    // Refuses a property the record does not have and a value of the wrong kind; stores a
    // copy of a multi-value.
    bool setValue(ABPropertyID property, const PropertyValue& value);
    bool removeValue(ABPropertyID property);

    // A person's names joined (first name first), else the organisation; a group's name.
    std::string compositeName() const;

    // A person's image file.
    const std::optional<ns::Data>& imageData() const { return image_; }
    bool setImageData(std::optional<ns::Data> data);

    // A group's people.
    std::vector<std::shared_ptr<ABRecord>> members() const;
    bool addMember(const std::shared_ptr<ABRecord>& person);
    bool removeMember(const ABRecord* person);

    std::string description() const override;

private:
    friend class AddressBook;

    ABRecordType type_;
    ABRecordID id_ = kABRecordInvalidID;
    std::map<ABPropertyID, PropertyValue> properties_;
    std::optional<ns::Data> image_;
    std::vector<std::weak_ptr<ABRecord>> members_;
};

}  // namespace svc
