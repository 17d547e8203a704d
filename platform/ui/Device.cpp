#include "platform/ui/Device.h"

namespace ui {

Device& Device::current() {
    static Device device;
    return device;
}

const std::optional<ns::UUID>& Device::identifierForVendor() {
    if (!vendorIdentifierSet_) setIdentifierForVendor(ns::UUID());
    return vendorIdentifier_;
}

void Device::setIdentifierForVendor(std::optional<ns::UUID> identifier) {
    vendorIdentifier_ = identifier;
    vendorIdentifierSet_ = true;
}

void Device::reset() {
    *this = Device();
}

}  // namespace ui
