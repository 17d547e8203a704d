#pragma once

#include "platform/ui/Geometry.h"

namespace ui {

// A 2-D affine transform (the platform's): x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct AffineTransform {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform makeTranslation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform makeScale(double x, double y) { return {x, 0, 0, y, 0, 0}; }

    // This transform applied after `first` (the platform's concat of first and this).
    AffineTransform after(const AffineTransform& first) const;
    // The platform's "scale this transform": the new step is applied before the existing ones.
    AffineTransform scaled(double x, double y) const { return after(makeScale(x, y)); }

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

    bool operator==(const AffineTransform&) const = default;
};

}  // namespace ui
