#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ui/Image.h"
#include "toolbox/iPhone/NSDK_TBXABRecord.h"

// A person of the address book.
class NSDK_TBXABPerson : public NSDK_TBXABRecord {
public:
    // A new person.
    NSDK_TBXABPerson();
    // Null for no record or one that is not a person.
    static std::shared_ptr<NSDK_TBXABPerson> recordWithRecord(
        std::shared_ptr<svc::ABRecord> record);
    // A new person with the names that are given; null when one cannot be set.
    static std::shared_ptr<NSDK_TBXABPerson> personWithFirstName(
        const std::optional<std::string>& firstName, const std::optional<std::string>& lastName);

    std::optional<ns::Data> imageData() const { return record_->imageData(); }
    // No data removes the image; data that is no image is refused.
    bool setImageData(const std::optional<ns::Data>& data);
    std::shared_ptr<ui::Image> image() const;
    // Stored as PNG data; no image removes it.
    bool setImage(const std::shared_ptr<ui::Image>& image);

    // "NSDK_TBXABPerson first last id".
    std::string description() const override;

    static svc::ABPropertyType typeOfProperty(svc::ABPropertyID property);
    static std::string localizedPropertyName(svc::ABPropertyID property);
    static int compositeNameFormat() { return svc::ABRecord::personCompositeNameFormat(); }

    explicit NSDK_TBXABPerson(std::shared_ptr<svc::ABRecord> record)
        : NSDK_TBXABRecord(std::move(record), &typeOfProperty, &localizedPropertyName) {}
};
