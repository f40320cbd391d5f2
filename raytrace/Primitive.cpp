#include "raytrace/Primitive.h"

#include <cmath>

#include "raytrace/HitRecordTable.h"

namespace velquin {

void VelquinMetaballPrimitive::setupSettings(const MetaballRenderParams& params) {
    const SelectedKernels kernels = selectKernels(params.fieldFunction, params.colourKernel);
    fieldKernel = kernels.surface;
    colorKernel = kernels.color;
    useAverage = params.useAverage != 0;
    radius = params.radius;
    threshold = params.threshold;
    step = params.step;
    error = params.error;
    cutoff = params.cutoff;
    trim = params.trim;
    texture.texmap = params.texmap;
    texture.textureType = params.textureType != 0;
    texture.strength = params.textureStrength;
    texture.oneMinusStrength = 1.0f - params.textureStrength;
    texture.useClamp = params.useClamp != 0;
    texture.clampTo = params.clampTo;
    radiusSq = globalRadiusSq(params.radius);
}

AverageSettings VelquinMetaballPrimitive::averageSettings(bool sized) const {
    AverageSettings s;
    s.radius = radius;
    s.cutoff = cutoff;
    s.trim = trim;
    s.sized = sized;
    return s;
}

VelquinMetaballPrimitive::BuildSettings
VelquinMetaballPrimitive::buildSettings(const MetaballRenderParams& params) {
    BuildSettings b;
    b.radius = params.radius;
    b.depth = params.depth;
    b.leafSize = static_cast<std::int32_t>(params.leafSize);
    b.leafLength = static_cast<float>(static_cast<double>(params.leafLength) *
                                      static_cast<double>(params.radius));
    return b;
}

bool VelquinMetaballPrimitive::stepLengths(const float direction[3], double& stepT,
                                           double& errT) const {
    float sq = direction[0] * direction[0] + direction[1] * direction[1];
    sq = sq + direction[2] * direction[2];
    const float len = std::sqrt(sq);
    if (!(len > 0.0f) || !std::isfinite(len)) {
        return false;
    }
    stepT = step / static_cast<double>(len);
    errT = error / static_cast<double>(len);
    return true;
}

void VelquinMetaballPrimitive::reportHit(VR::RayBase& ray, VR::GenericPrimitive* self, double t,
                                         const float record[6]) const {
    ray.nearestDist = t;
    ray.hitPrimitive = self;
    ray.hitTopPrimitive = self;
    if (ray.rc != nullptr) {
        storeHitRecord(hitTable, hitTableCount, ray.rc->threadIndex, ray.rc->slot, ray.rc->rayTag,
                       record);
    }
}

void normalFromSamples(const double f[4], const float fallback[3], float normal[3]) {
    const double g[3] = {f[0] - f[1], f[0] - f[2], f[0] - f[3]};
    const double len = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    if (!(len > 0.0) || !std::isfinite(len)) {
        for (int a = 0; a < 3; ++a) {
            normal[a] = fallback[a];
        }
        return;
    }
    for (int a = 0; a < 3; ++a) {
        normal[a] = static_cast<float>(-g[a] / len);
    }
}

} // namespace velquin
