#include <cstdint>
#include <cstdlib>

#include "fuzz/Require.h"
#include "platform/ns/Data.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/InterfaceFile.h"
#include "platform/ui/ViewController.h"
#include "toolbox/iPhone/NSDK_TBXUILocalizer.h"

namespace {

using fuzzing::require;

rt::ClassRegistry& registry() {
    static auto* shared = [] {
        auto* r = new rt::ClassRegistry();
        NSDK_TBXUILocalizer::registerRuntimeClass(*r);
        r->registerClass("Controller", std::nullopt, [] { return ui::ViewController::create(); });
        return r;
    }();
    return *shared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto owner = ui::ViewController::create();
    auto contents = ui::InterfaceFile::instantiate(ns::Data(data, size), owner, registry());
    if (contents.ok()) {
        require(contents->topLevelObjects.size() <= ui::InterfaceFile::kMaxObjects);
        for (const auto& [id, object] : contents->namedObjects) require(object != nullptr);
    } else {
        require(contents.error().code() == ns::kPropertyListReadCorruptError);
    }
    return 0;
}
