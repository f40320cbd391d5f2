// Falloff kernels: the contribution of one metaball as a function of squared radius and squared
// distance, and the integer vocabularies that select them.
#pragma once

#include <cstdint>

namespace velquin {

// double kernel(radiusSq, distSq): 1 at the centre, 0 at the radius. Called only for
// distSq <= radiusSq; no clamping of its own.
using FalloffKernel = double (*)(double radiusSq, double distSq);

// Values of "fieldFunction" (and of "color" - 2). Anything outside 0..5 selects Wyvill.
enum FieldFunction : std::int32_t {
    PowerOfTwo = 0,
    PowerOfThree = 1,
    PowerOfFour = 2,
    PowerOfFive = 3,
    HermitePowerOfTwo = 4,
    HermitePowerOfFour = 5,
    Wyvill = 6,
};

// Values of "color": 0 no colours, 1 the surface kernel, 2..8 FieldFunction value + 2.
enum ColorFunction : std::int32_t {
    ColorNone = 0,
    ColorSameAsSurface = 1,
    ColorPowerOfTwo = 2,
    ColorPowerOfThree = 3,
    ColorPowerOfFour = 4,
    ColorPowerOfFive = 5,
    ColorHermitePowerOfTwo = 6,
    ColorHermitePowerOfFour = 7,
    ColorWyvill = 8,
};

// The kernels' formulas, inline so that a caller that picks its kernel once (the tracing loops)
// can have it compiled into the loop. Every kernel forms t = 1 - x and its powers in one fixed
// order; results must match to the last bit, so the products are grouped exactly as written and
// never rearranged.
namespace kernels {

// The Wyvill coefficients as the doubles of the fractions, used as single constants so that every
// product rounds exactly once.
inline constexpr double kWyvill22_9 = 22.0 / 9.0; // 2.4444444444444446
inline constexpr double kWyvill17_9 = 17.0 / 9.0; // 1.8888888888888888
inline constexpr double kWyvill4_9 = 4.0 / 9.0;   // 0.4444444444444444

inline double powerOfTwo(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    return t * t;
}
inline double powerOfThree(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return t2 * t;
}
inline double powerOfFour(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return t2 * t2;
}
inline double powerOfFive(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (t2 * t2) * t;
}
inline double hermitePowerOfTwo(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (3.0 - 2.0 * t) * t2;
}
inline double hermitePowerOfFour(double radiusSq, double distSq) {
    double t = 1.0 - distSq / radiusSq;
    double t2 = t * t;
    return (3.0 - 2.0 * t) * (t2 * t2);
}
inline double wyvill(double radiusSq, double distSq) {
    double x = distSq / radiusSq;
    return ((x * x * kWyvill17_9 + 1.0) - x * x * kWyvill4_9 * x) - x * kWyvill22_9;
}

} // namespace kernels

double kernelPowerOfTwo(double radiusSq, double distSq);
double kernelPowerOfThree(double radiusSq, double distSq);
double kernelPowerOfFour(double radiusSq, double distSq);
double kernelPowerOfFive(double radiusSq, double distSq);
double kernelHermitePowerOfTwo(double radiusSq, double distSq);
double kernelHermitePowerOfFour(double radiusSq, double distSq);
double kernelWyvill(double radiusSq, double distSq);

// The kernel a selector picks: 0..5 as FieldFunction, every other value Wyvill.
FalloffKernel kernelFor(std::int32_t selector);

struct SelectedKernels {
    FalloffKernel surface;
    FalloffKernel color;
};
SelectedKernels selectKernels(std::int32_t fieldSelector, std::int32_t colorSelector);

// The colour selector a frame compile derives from "color": 1 takes "fieldFunction", any other
// value v gives v - 2 (so "None" gives -2, which selects Wyvill and is never used).
std::int32_t colorSelectorFor(std::int32_t color, std::int32_t fieldFunction);

// Squared distance from a metaball centre c to a query point p: each component c + (0 - p) in
// single precision, squared, summed x + y then + z in single precision, widened to double.
inline double distanceSq(const float* c, const float* p) {
    float dx = c[0] + (0.0f - p[0]);
    float dy = c[1] + (0.0f - p[1]);
    float dz = c[2] + (0.0f - p[2]);
    float s = dx * dx + dy * dy;
    s = s + dz * dz;
    return static_cast<double>(s);
}

} // namespace velquin
