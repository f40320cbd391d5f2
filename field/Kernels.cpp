#include "field/Kernels.h"

#include <limits>

namespace velquin {

double kernelPowerOfTwo(double radiusSq, double distSq) {
    return kernels::powerOfTwo(radiusSq, distSq);
}
double kernelPowerOfThree(double radiusSq, double distSq) {
    return kernels::powerOfThree(radiusSq, distSq);
}
double kernelPowerOfFour(double radiusSq, double distSq) {
    return kernels::powerOfFour(radiusSq, distSq);
}
double kernelPowerOfFive(double radiusSq, double distSq) {
    return kernels::powerOfFive(radiusSq, distSq);
}
double kernelHermitePowerOfTwo(double radiusSq, double distSq) {
    return kernels::hermitePowerOfTwo(radiusSq, distSq);
}
double kernelHermitePowerOfFour(double radiusSq, double distSq) {
    return kernels::hermitePowerOfFour(radiusSq, distSq);
}
double kernelWyvill(double radiusSq, double distSq) {
    return kernels::wyvill(radiusSq, distSq);
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
