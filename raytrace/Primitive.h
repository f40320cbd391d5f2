// Settings shared by the still and the moving primitive, filled at setup from the parameters of
// a compiled frame.
#pragma once

#include <cstdint>

#include "field/Evaluators.h"
#include "field/Kernels.h"
#include "field/MetaballArrays.h"
#include "host/vray.h"
#include "raytrace/CompiledFrame.h"
#include "raytrace/TextureModulation.h"

namespace velquin {

class HitRecordTable;

class VelquinMetaballPrimitive {
public:
    VR::GenericPrimitive* owner = nullptr; // the instance's dynamic-primitive part (not owned)
    std::int32_t renderId = 0;
    double radius = 20.0;
    double threshold = 0.5;
    double step = 1.0;
    double error = 0.0001;
    FalloffKernel fieldKernel = kernelPowerOfThree;
    FalloffKernel colorKernel = kernelWyvill;
    bool useAverage = false;
    double cutoff = 0.5;
    double trim = 0.65;
    TextureModulation texture;
    float* colors = nullptr; // owned; one colour per metaball, or null
    double radiusSq = 400.0;
    HitRecordTable** hitTable = nullptr; // the instance's per-thread tables (not owned)
    std::int32_t hitTableCount = 0;

    // Reports an accepted hit on the ray (nearest distance, both hit-primitive fields) and keeps
    // six floats for it in the calling thread's hit record.
    void reportHit(VR::RayBase& ray, VR::GenericPrimitive* self, double t,
                   const float record[6]) const;

protected:
    VelquinMetaballPrimitive() = default;
    ~VelquinMetaballPrimitive() { delete[] colors; }
    VelquinMetaballPrimitive(const VelquinMetaballPrimitive&) = delete;
    VelquinMetaballPrimitive& operator=(const VelquinMetaballPrimitive&) = delete;

    // Kernels, scalar parameters and texture settings of a frame.
    void setupSettings(const MetaballRenderParams& params);

public:
    AverageSettings averageSettings(bool sized) const;

protected:
    // Hierarchy build settings: "depth", "leafSize" truncated from its float, and
    // "leafLength" x radius taken in double and narrowed.
    struct BuildSettings {
        float radius;
        std::int32_t depth;
        std::int32_t leafSize;
        float leafLength;
    };
    static BuildSettings buildSettings(const MetaballRenderParams& params);

    // The step and error lengths along a direction of any length; false for a direction whose
    // length is zero or not finite (no step could advance along it).
    bool stepLengths(const float direction[3], double& stepT, double& errT) const;
};

// A point along the ray with the product in single precision and the sum in double:
// (float)(origin + (double)((float)t * direction)).
inline void mixedPointAt(const double origin[3], const float direction[3], double t, float p[3]) {
    const float tf = static_cast<float>(t);
    for (int a = 0; a < 3; ++a) {
        p[a] = static_cast<float>(origin[a] + static_cast<double>(tf * direction[a]));
    }
}

// A march sample: products and sums in single precision.
inline void samplePointAt(const float origin[3], const float direction[3], double t, float p[3]) {
    const float tf = static_cast<float>(t);
    for (int a = 0; a < 3; ++a) {
        p[a] = origin[a] + direction[a] * tf;
    }
}

// The unit normal -g / |g| from the field at p and at the three offset points, narrowed to
// float. A flat field (|g| zero or not finite) has no direction: fallback is used instead.
void normalFromSamples(const double f[4], const float fallback[3], float normal[3]);

} // namespace velquin
