#include "platform/ui/AffineTransform.h"

#include <cmath>

namespace ui {

AffineTransform AffineTransform::makeRotation(double angle) {
    double cosine = std::cos(angle);
    double sine = std::sin(angle);
    // Quarter and half turns come out exact, so that pixel grids map onto pixel grids.
    if (std::abs(cosine) < 1e-12) cosine = 0;
    if (std::abs(sine) < 1e-12) sine = 0;
    return {cosine, sine, -sine, cosine, 0, 0};
}

AffineTransform AffineTransform::after(const AffineTransform& first) const {
    // Points go through `first`, then through this.
    return {a * first.a + c * first.b,        b * first.a + d * first.b,
            a * first.c + c * first.d,        b * first.c + d * first.d,
            a * first.tx + c * first.ty + tx, b * first.tx + d * first.ty + ty};
}

}  // namespace ui
