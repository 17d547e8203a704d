#pragma once

#include "platform/ns/Object.h"

namespace wk {

// Identifies one navigation from its start to its end in the navigation delegate's events.
class Navigation : public ns::Object {};

}  // namespace wk
