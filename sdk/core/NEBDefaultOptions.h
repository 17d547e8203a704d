#pragma once

#include <memory>
#include <optional>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"

class NEBOptions;

// The options of the main bundle's options file, read once per launch.
class NEBDefaultOptions {
public:
    static NEBDefaultOptions& shared() { return ns::SharedInstance<NEBDefaultOptions>::get(); }

    dispatch::Mutex mutex;
    std::optional<ns::Dictionary> dictionary GUARDED_BY(mutex);
    std::shared_ptr<NEBOptions> options GUARDED_BY(mutex);

private:
    friend class ns::SharedInstance<NEBDefaultOptions>;
    NEBDefaultOptions() = default;
};
