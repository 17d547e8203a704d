#include <cstdint>
#include <cstdlib>

#include "fuzz/Require.h"
#include "platform/ns/Data.h"
#include "platform/ui/Color.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto color = ui::Color::fromAssetDescription(ns::Data(data, size));
    if (color) {
        for (double component : {color->red(), color->green(), color->blue(), color->alpha()}) {
            fuzzing::require(component >= 0.0 && component <= 1.0);
        }
    }
    return 0;
}
