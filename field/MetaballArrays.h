// The per-frame (still) or per-segment (moving) metaball arrays that every evaluator and both
// hierarchies read. Non-owning: the primitive that holds a compiled frame owns the storage.
#pragma once

#include <cstdint>

namespace velquin {

struct MetaballArrays {
    std::int32_t count = 0;
    const float* positions = nullptr;   // 3 floats per metaball
    double* perBallRadius = nullptr;    // radii, or squared radii after the static squaring
    const float* colors = nullptr;      // 3 floats per metaball, or null
    double radius = 20.0;               // global radius
    double radiusSq = 400.0;            // (float)radius * (float)radius, widened
    const float* velocities = nullptr;  // moving: displacement over the segment
    const double* radiusVelocities = nullptr; // moving, with perBallRadius: radius change
};

// The global squared radius: the product is taken in single precision, then widened.
inline double globalRadiusSq(float radius) { return static_cast<double>(radius * radius); }

} // namespace velquin
