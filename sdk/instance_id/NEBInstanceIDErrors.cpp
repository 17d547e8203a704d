#include "sdk/instance_id/NEBInstanceIDErrors.h"

ns::Error NEBInstanceIDErrorWithCode(int64_t code) {
    if (code == kNEBInstanceIDErrorCodeMissingCheckin) return NEBInstanceIDErrorMissingCheckin();
    return ns::Error(kNEBInstanceIDDomain, code);
}

ns::Error NEBInstanceIDErrorMissingCheckin() {
    return ns::Error(kNEBInstanceIDDomain, kNEBInstanceIDErrorCodeMissingCheckin,
                     {{"msg", kNEBInstanceIDMissingCheckinMessage}});
}
