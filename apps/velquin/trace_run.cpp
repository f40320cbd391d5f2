#include "apps/velquin/trace_run.h"

#include "host/vray.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/MovingPrimitive.h"
#include "raytrace/StaticPrimitive.h"

namespace velquin {

namespace {

// Traces every ray through the primitive's renderer-facing operations, as a render thread would:
// one context on thread 0, slot 0, a fresh nonzero tag per ray; the normal and colour come back
// through the hit record that the intersection kept.
template <class Primitive>
void traceAll(Primitive& prim, const TraceInput& input, bool moving, bool colored,
              HitRecordTable* const* tables, std::vector<TraceResult>& results) {
    VR::VRayContext rc;
    rc.threadIndex = 0;
    rc.slot = 0;
    for (std::size_t i = 0; i < input.rays.size(); ++i) {
        const TraceRay& r = input.rays[i];
        const int tag = static_cast<int>(i % 0x7ffffffe) + 1;
        rc.beginRay(r.origin, r.direction, r.tmin, r.tmax, r.time, tag);
        rc.ray.nearestDist = r.nearest;
        TraceResult& out = results[i];
        out.hasColor = colored;
        if (prim.intersect(rc.ray) == 0) {
            continue;
        }
        out.hit = true;
        out.t = rc.ray.nearestDist;
        const HitRecord* record = findHitRecord(tables, 1, rc.threadIndex, rc.slot, tag);
        const VR::Vector n = prim.getSurfaceNormal(rc);
        out.normal[0] = n.x;
        out.normal[1] = n.y;
        out.normal[2] = n.z;
        if (moving) {
            mixedPointAt(r.origin, r.direction, out.t, out.point);
        } else if (record != nullptr) {
            for (int a = 0; a < 3; ++a) {
                out.point[a] = record->data[a];
            }
        }
        if (record != nullptr) {
            for (int a = 0; a < 3; ++a) {
                out.color[a] = record->data[3 + a];
            }
        }
    }
}

} // namespace

std::vector<TraceResult> traceRays(const TraceInput& input) {
    std::vector<TraceResult> results(input.rays.size());
    const bool colored = frameHasColors(input);
    HitRecordTable table;
    HitRecordTable* tables[1] = {&table};
    if (!input.moving) {
        VelquinMetaballPrimitiveStatic prim;
        CompiledFrame frame = makeCompiledFrame(input);
        frame.hitTables = tables;
        frame.hitTableCount = 1;
        if (!prim.setup(frame)) {
            freeCompiledFrame(frame);
            return results;
        }
        traceAll(prim, input, false, colored, tables, results);
    } else {
        VelquinMetaballPrimitiveMoving prim;
        CompiledMovingFrame frame = makeCompiledMovingFrame(input);
        frame.hitTables = tables;
        frame.hitTableCount = 1;
        if (!prim.setup(frame)) {
            freeCompiledFrame(frame);
            return results;
        }
        traceAll(prim, input, true, colored, tables, results);
    }
    return results;
}

} // namespace velquin
