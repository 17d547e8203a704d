#pragma once

#include <memory>

#include "platform/ns/Bundle.h"

namespace ui {

// A view controller made from an interface file answers the bundle that file came from.
class NibBundleOwner {
public:
    virtual ~NibBundleOwner() = default;
    virtual std::shared_ptr<ns::Bundle> nibBundle() const = 0;
};

}  // namespace ui
