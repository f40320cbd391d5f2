#include "field/Kernels.h"

#include <limits>

namespace velquin {

namespace {

// The Wyvill coefficients as the doubles of the fractions, used as single constants so that every
// product below rounds exactly once.
constexpr double kWyvill22_9 = 22.0 / 9.0; // 2.4444444444444446
constexpr double kWyvill17_9 = 17.0 / 9.0; // 1.8888888888888888
constexpr double kWyvill4_9 = 4.0 / 9.0;   // 0.4444444444444444

} // namespace

// Every kernel forms t = 1 - x and its powers in one fixed order; results must match to the last
// bit, so the products are grouped exactly as written and never rearranged.

double kernelPowerOfTwo(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    return t * t;
}

double kernelPowerOfThree(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return t2 * t;
}

double kernelPowerOfFour(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return t2 * t2;
}

double kernelPowerOfFive(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (t2 * t2) * t;
}

double kernelHermitePowerOfTwo(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (3.0 - 2.0 * t) * t2;
}

double kernelHermitePowerOfFour(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (3.0 - 2.0 * t) * (t2 * t2);
}

double kernelWyvill(double radiusSq, double distSq) {
    double x = distSq / radiusSq;
    return ((x * x * kWyvill17_9 + 1.0) - x * x * kWyvill4_9 * x) - x * kWyvill22_9;
}

FalloffKernel kernelFor(std::int32_t selector) {
    switch (selector) {
    case PowerOfTwo:
        return kernelPowerOfTwo;
    case PowerOfThree:
        return kernelPowerOfThree;
    case PowerOfFour:
        return kernelPowerOfFour;
    case PowerOfFive:
        return kernelPowerOfFive;
    case HermitePowerOfTwo:
        return kernelHermitePowerOfTwo;
    case HermitePowerOfFour:
        return kernelHermitePowerOfFour;
    default:
        // Wyvill, and every value outside the list (negative ones included).
        return kernelWyvill;
    }
}

SelectedKernels selectKernels(std::int32_t fieldSelector, std::int32_t colorSelector) {
    return SelectedKernels{kernelFor(fieldSelector), kernelFor(colorSelector)};
}

std::int32_t colorSelectorFor(std::int32_t color, std::int32_t fieldFunction) {
    if (color == ColorSameAsSurface) {
        return fieldFunction;
    }
    // A stored value near the bottom of the int range would overflow on "- 2"; saturating keeps it
    // outside 0..5, so it still selects Wyvill as every other out-of-range value does.
    if (color < std::numeric_limits<std::int32_t>::min() + 2) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return color - 2;
}

} // namespace velquin
