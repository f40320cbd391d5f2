// Renderer SDK stand-in: the ray record, the ray result and the per-ray context.
//
// A render thread owns its contexts; a context traces one ray at a time. Primitives read the ray
// and the context's thread index, slot and tag; the ray server and the renderer write the result.
#pragma once

#include "platform/max/texmap.h"
#include "platform/vray/vraybase.h"

namespace VR {

class GenericPrimitive;
class VRayCore;

// One ray. The origin is double, the direction float and of any length; distances are in units
// of the direction's length. `time` places the ray in the frame's motion-blur interval (0 at its
// start, 1 at its end).
struct RayBase {
    double p[3] = {0.0, 0.0, 0.0};
    float dir[3] = {0.0f, 0.0f, 1.0f};
    double tmin = 0.0;
    double tmax = 1e18;
    float time = 0.0f;
    // Distance of the nearest hit found so far (tmax until a hit); a primitive reports a hit
    // only at or before it, and lowers it.
    double nearestDist = 1e18;
    // Written by the primitive that reports a hit: the primitive whose surface was hit, and the
    // top-level primitive the ray server reached it through (the same for a primitive that is
    // not part of another).
    GenericPrimitive* hitPrimitive = nullptr;
    GenericPrimitive* hitTopPrimitive = nullptr;
    // The context tracing this ray.
    VRayContext* rc = nullptr;

    // Starts a new ray: no hit, nearest distance = tmax.
    void set(const double origin[3], const float direction[3], double tmin, double tmax,
             float time);
    bool hasHit() const { return hitPrimitive != nullptr; }
};

// What the renderer knows of the nearest hit after the intersection data is filled.
struct RayResult {
    int isHit = 0;
    double dist = 0.0;
    double wpoint[3] = {0.0, 0.0, 0.0}; // world hit point
    Vector normal;                      // the primitive's normal, as it reports it
    int side = 0;                       // 1 when the ray meets the surface from behind
    GenericPrimitive* primitive = nullptr;
    ShadeData* sd = nullptr;
    ShadeInstance* si = nullptr;
    SurfaceProperties* surfaceProps = nullptr;
    // The surface's own colour at the hit (the metaball colour), when metaballColorValid.
    Color metaballColor;
    int metaballColorValid = 0;

    void clear() { *this = RayResult(); }
};

// What shading produced.
struct ShadeResult {
    Color color;
    Color transparency;
    float alpha = 0.0f;
};

// The context of one ray on one render thread; also the shading context of its hit, so a
// primitive's normal operation, given a ShadeContext&, reaches the ray through
// VRayContext::fromShadeContext. Points and vectors are in world space.
class VRayContext : public ShadeContext {
public:
    VRayCore* vray = nullptr;
    // The render thread, 0..n-1: index of every per-thread table.
    int threadIndex = 0;
    // The context's slot on its thread: 0 for a camera ray's context, one more for each context
    // nested inside another's shading, so nested rays keep their own per-thread records.
    int slot = 0;
    // Identifies the current ray; never 0 for a traced ray (0 marks empty per-ray records).
    int rayTag = 0;
    RayBase ray;
    RayResult rayresult;
    ShadeResult mtlresult;

    VRayContext() { ray.rc = this; }
    VRayContext(const VRayContext&) = delete;
    VRayContext& operator=(const VRayContext&) = delete;

    // Starts tracing a ray from this context: sets the ray, clears the result, takes `tag`.
    void beginRay(const double origin[3], const float direction[3], double tmin, double tmax,
                  float time, int tag);

    // The ray context behind a shading context, or null when `sc` is some other context.
    static VRayContext* fromShadeContext(ShadeContext& sc) {
        return dynamic_cast<VRayContext*>(&sc);
    }

    // ShadeContext, answered from the ray and its result.
    Point3 P() override;
    Point3 Normal() override;
    Point3 V() override;
    Point3 CamPos() override;
    TimeValue CurTime() override;
    Point3 PointTo(const Point3& p, RefFrame ito) override;
    Point3 PointFrom(const Point3& p, RefFrame ifrom) override;
    Point3 VectorTo(const Point3& p, RefFrame ito) override;
    Point3 VectorFrom(const Point3& p, RefFrame ifrom) override;
};

} // namespace VR
