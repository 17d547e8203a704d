#include "sdk/core/NEBServices.h"

#include "platform/sec/Keychain.h"

std::shared_ptr<const NEBServices> NEBServices::standard() {
    return std::make_shared<const NEBServices>(sec::Keychain::shared(), NEBRequestPolicies{},
                                               NEBBackoffPolicies{});
}
