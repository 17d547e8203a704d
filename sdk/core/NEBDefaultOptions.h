#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"

class NEBOptions;

// The options of the main bundle's options file, read once per launch.
class NEBDefaultOptions {
public:
    static NEBDefaultOptions& shared() { return ns::SharedInstance<NEBDefaultOptions>::get(); }

    std::mutex mutex;
    std::optional<ns::Dictionary> dictionary;
    std::shared_ptr<NEBOptions> options;

private:
    friend class ns::SharedInstance<NEBDefaultOptions>;
    NEBDefaultOptions() = default;
};
