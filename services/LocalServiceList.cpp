#include "services/LocalServices.h"

namespace localservices {

// Each service's file defines its factory.
std::unique_ptr<LocalService> makeCheckinService();
std::unique_ptr<LocalService> makeRegistrationService();
std::unique_ptr<LocalService> makeMessagingService();
std::unique_ptr<LocalService> makeMeasurementService();
std::unique_ptr<LocalService> makeIdentityService();

std::vector<LocalServiceFactory> localServiceList() {
    return {
        makeCheckinService,     makeRegistrationService, makeMessagingService,
        makeMeasurementService, makeIdentityService,
    };
}

}  // namespace localservices
