// The primitive the renderer intersects when the frame has no motion blur: the field of still
// metaballs, marched along each ray through the intervals of a ray hierarchy.
#pragma once

#include <cstdint>
#include <memory>

#include "raytrace/FlatHierarchy.h"
#include "raytrace/Primitive.h"
#include "raytrace/PrimitiveParts.h"
#include "raytrace/RayHierarchy.h"

namespace velquin {

// What one intersection found.
struct SurfaceHit {
    double t = 0.0;
    float point[3] = {0.0f, 0.0f, 0.0f};
    float normal[3] = {0.0f, 0.0f, 0.0f}; // moving frames only: computed at intersection time
    float color[3] = {0.0f, 0.0f, 0.0f};  // meaningful only when the frame has colours
};

// A ray as the primitives read it: origin and distances in double, direction in float of any
// length, the nearest hit so far, and the ray's time in the shutter (moving frames).
struct SurfaceRay {
    double origin[3] = {0.0, 0.0, 0.0};
    float direction[3] = {0.0f, 0.0f, 1.0f};
    double tMin = 0.0;
    double tMax = 1e18;
    double nearest = 1e18;
    float time = 0.0f;
    TraceCounters* counters = nullptr; // the tracing thread's statistics, or null
};

// The ray record as the marcher reads it, and the normal facing back along a direction (unit
// length; +Z for a direction that has none).
SurfaceRay surfaceRayOf(const VR::RayBase& ray);
void facingBack(const float direction[3], float normal[3]);

class VelquinMetaballPrimitiveStatic
    : public VelquinMetaballPrimitive,
      public ForwardingPrimitive<VelquinMetaballPrimitiveStatic, VR::StaticBox> {
public:
    VR::StaticBox bbox{VR::Vector(1e20f, 1e20f, 1e20f), VR::Vector(-1e20f, -1e20f, -1e20f)};
    std::int32_t count = 0;
    float* positions = nullptr;     // owned
    double* radii = nullptr;        // owned; squared after setup unless the surface is the average
    double* colorRadiiSq = nullptr; // owned; squared sizes for the colour pass of the average
    std::unique_ptr<BVHNode> rayTree;
    FlatHierarchy flat; // rayTree laid out for the marches

    VelquinMetaballPrimitiveStatic() = default;
    ~VelquinMetaballPrimitiveStatic();

    // Takes over the frame's arrays (and frees those of the previous frame), selects the
    // kernels, computes the bounds and builds the ray hierarchy. False when memory ran out; the
    // primitive then holds no metaballs.
    bool setup(CompiledFrame& frame);

    // The first crossing of the threshold along the ray, accepted only within
    // (tMin, tMax) and not beyond the nearest hit so far. Fills t, point and colour.
    bool intersectSurface(const SurfaceRay& ray, SurfaceHit& hit) const;

    // The unit normal at p from four field samples 0.001 apart. fallback is returned where the
    // field is flat (no gradient).
    void normalAt(const float p[3], const float fallback[3], float normal[3]) const;

    // The kernel-weighted mean colour at p (black where no colour weight reaches it).
    void colorAt(const float p[3], float color[3]) const;

    // The field value (after texture modulation) at p over the whole hierarchy.
    double valueAt(const float p[3]) const;

    // The renderer's operations: intersection (keeping the hit point and colour in the calling
    // thread's hit record), bounds, and the normal of the current ray's hit.
    int intersect(VR::RayBase& ray) override;
    void getBBox(VR::StaticBox& box) override { box = bbox; }
    VR::Vector getSurfaceNormal(ShadeContext& sc) override;

private:
    void release();
};

} // namespace velquin
