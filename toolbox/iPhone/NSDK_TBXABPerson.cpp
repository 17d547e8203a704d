#include "toolbox/iPhone/NSDK_TBXABPerson.h"

#include "platform/ns/Format.h"

NSDK_TBXABPerson::NSDK_TBXABPerson() : NSDK_TBXABPerson(svc::ABRecord::createPerson()) {}

std::shared_ptr<NSDK_TBXABPerson> NSDK_TBXABPerson::recordWithRecord(
    std::shared_ptr<svc::ABRecord> record) {
    if (!record || record->recordType() != svc::ABRecordType::Person) return nullptr;
    return std::make_shared<NSDK_TBXABPerson>(std::move(record));
}

std::shared_ptr<NSDK_TBXABPerson> NSDK_TBXABPerson::personWithFirstName(
    const std::optional<std::string>& firstName, const std::optional<std::string>& lastName) {
    auto person = std::make_shared<NSDK_TBXABPerson>();
    if (firstName && !person->setValue(ns::Value(*firstName), svc::kABPersonFirstNameProperty)) {
        return nullptr;
    }
    if (lastName && !person->setValue(ns::Value(*lastName), svc::kABPersonLastNameProperty)) {
        return nullptr;
    }
    return person;
}

bool NSDK_TBXABPerson::setImageData(const std::optional<ns::Data>& data) {
    if (data && !ui::Image::imageWithData(*data)) return false;
    return record_->setImageData(data);
}

std::shared_ptr<ui::Image> NSDK_TBXABPerson::image() const {
    auto data = imageData();
    return data ? ui::Image::imageWithData(*data) : nullptr;
}

bool NSDK_TBXABPerson::setImage(const std::shared_ptr<ui::Image>& image) {
    if (!image) return setImageData(std::nullopt);
    auto png = image->pngData();
    return png && setImageData(*png);
}

std::string NSDK_TBXABPerson::description() const {
    auto text = [&](svc::ABPropertyID property) -> ns::Value {
        auto value = valueForProperty(property);
        if (!value) return {};
        return std::get<ns::Value>(*value);
    };
    return ns::format("%@ %@ %@ %d", "NSDK_TBXABPerson", text(svc::kABPersonFirstNameProperty),
                      text(svc::kABPersonLastNameProperty), recordID());
}

svc::ABPropertyType NSDK_TBXABPerson::typeOfProperty(svc::ABPropertyID property) {
    return svc::ABRecord::typeOfProperty(svc::ABRecordType::Person, property);
}

std::string NSDK_TBXABPerson::localizedPropertyName(svc::ABPropertyID property) {
    return svc::ABRecord::localizedPersonPropertyName(property);
}
