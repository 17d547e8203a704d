#include "platform/ui/AffineTransform.h"

namespace ui {

AffineTransform AffineTransform::after(const AffineTransform& first) const {
    // Points go through `first`, then through this.
    return {a * first.a + c * first.b,        b * first.a + d * first.b,
            a * first.c + c * first.d,        b * first.c + d * first.d,
            a * first.tx + c * first.ty + tx, b * first.tx + d * first.ty + ty};
}

}  // namespace ui
