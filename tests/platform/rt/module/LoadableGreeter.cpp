// A module for the module loader's tests: it announces one class through the program's own
// loader, as the host's modules do, and holds none of the platform's code.
#include "platform/ns/Object.h"
#include "platform/rt/ModuleLoader.h"

namespace {

class LoadableGreeter : public ns::Object {
public:
    std::string description() const override { return "greetings from a module"; }
};

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce("LoadableGreeter",
                                        [] { return std::make_shared<LoadableGreeter>(); });
    return true;
}();

}  // namespace
