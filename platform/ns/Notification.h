#pragma once

#include <memory>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

namespace ns {

// A named announcement with an optional sender and details.
struct Notification {
    std::string name;
    std::shared_ptr<Object> object;  // the sender, may be null
    Dictionary userInfo;
};

}  // namespace ns
