#pragma once

#include <memory>
#include <string_view>

#include "platform/ns/Object.h"

namespace ui {

// An object whose outlets an interface file connects by name.
class NibOutlets {
public:
    virtual ~NibOutlets() = default;
    // False for an outlet the object does not have or a value of the wrong kind.
    virtual bool setOutlet(std::string_view name, const std::shared_ptr<ns::Object>& value) = 0;
};

}  // namespace ui
