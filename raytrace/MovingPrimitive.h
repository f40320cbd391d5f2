// The primitive the renderer intersects when the frame is motion blurred: the shutter is cut into
// equal segments, within which every metaball moves (and changes size) linearly. Each ray picks
// the segment of its time and is marched through the metaballs moved to that time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "field/MovingHierarchy.h"
#include "raytrace/Primitive.h"
#include "raytrace/PrimitiveParts.h"
#include "raytrace/StaticPrimitive.h"

namespace velquin {

class VelquinMetaballPrimitiveMoving
    : public VelquinMetaballPrimitive,
      public ForwardingPrimitive<VelquinMetaballPrimitiveMoving, VR::MovingBox> {
public:
    // Time start, time end, the box of every metaball over the whole shutter, and the box's
    // change over the shutter (zeros: the first box already covers the motion).
    VR::MovingBox box;
    std::int32_t* segmentCounts = nullptr; // owned
    float** segmentPositions = nullptr;    // owned, two per segment: start, displacement
    double** segmentSizes = nullptr;       // owned, two per segment: start, change; or nulls
    std::int32_t segmentCount = 0;
    std::vector<std::unique_ptr<BVHMNode>> segmentTrees;
    std::vector<float> segmentStart;
    float segmentLength = 1.0f;

    VelquinMetaballPrimitiveMoving() = default;
    ~VelquinMetaballPrimitiveMoving();

    // Takes over the frame's arrays (freeing the previous frame's), computes the moving box and
    // builds one hierarchy per segment. False when memory ran out (no metaballs then).
    bool setup(CompiledMovingFrame& frame);

    // Segment of a ray time and the local time within it. Times below 0 (and NaN) are taken as
    // 0; 1.0 and beyond fall into the last segment.
    void segmentOf(float time, std::int32_t& segment, float& local) const;

    // The first crossing at the ray's time, with the normal and colour at the hit.
    bool intersectSurface(const SurfaceRay& ray, SurfaceHit& hit) const;

    bool hasColors() const { return colors != nullptr; }

    // The renderer's operations: intersection at the ray's time (keeping the normal and colour
    // in the calling thread's hit record), bounds, and the normal kept for the current ray.
    int intersect(VR::RayBase& ray) override;
    void getBBox(VR::MovingBox& b) override { b = box; }
    VR::Vector getSurfaceNormal(ShadeContext& sc) override;

private:
    void release();
    bool sized() const { return segmentSizes != nullptr && segmentSizes[0] != nullptr; }
};

} // namespace velquin
