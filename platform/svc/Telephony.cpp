#include "platform/svc/Telephony.h"

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/SharedInstance.h"

namespace svc {

Telephony& Telephony::shared() {
    return ns::SharedInstance<Telephony>::get();
}

std::optional<std::string> Telephony::currentRadioAccessTechnology() const {
    dispatch::Lock lock(mutex_);
    return technology_;
}

void Telephony::setCurrentRadioAccessTechnology(std::optional<std::string> technology) {
    {
        dispatch::Lock lock(mutex_);
        if (technology_ == technology) return;
        technology_ = std::move(technology);
    }
    ns::NotificationCenter::defaultCenter().post(kCTRadioAccessTechnologyDidChangeNotification);
}

}  // namespace svc
