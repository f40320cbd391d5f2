#include "raytrace/MovingPrimitive.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "raytrace/FieldSampler.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/ReachSource.h"

namespace velquin {

// The metaballs of one segment moved to the ray's local time: each interval carries a motion
// cache, filled on first use.
class MovingSource {
public:
    using Summed = FieldMoving;
    using Average = FieldMovingAvg;

    MovingSource(const VelquinMetaballPrimitiveMoving& prim, std::int32_t segment, float local)
        : prim_(prim), local_(local), positions_(prim.segmentPositions[2 * segment]),
          velocities_(prim.segmentPositions[2 * segment + 1]),
          sizes_(prim.segmentSizes != nullptr ? prim.segmentSizes[2 * segment] : nullptr),
          sizeDeltas_(prim.segmentSizes != nullptr ? prim.segmentSizes[2 * segment + 1] : nullptr),
          settings_(prim.averageSettings(sizes_ != nullptr)) {}

    const VelquinMetaballPrimitive& primitive() const { return prim_; }
    const AverageSettings& averageSettings() const { return settings_; }

    void setUp(FieldMoving& field, const float p[3]) const {
        field.setPoint(p);
        field.radiusSq = prim_.radiusSq;
        field.kernel = prim_.fieldKernel;
    }

    void add(RayInterval* iv, FieldMoving& field) const {
        MotionCache* cache = static_cast<MotionCache*>(iv->payload);
        const std::int64_t before = field.reached;
        if (sizes_ != nullptr) {
            cache->evaluateSized(positions_, velocities_, sizes_, sizeDeltas_, local_, field,
                                 prim_.useAverage);
        } else {
            cache->evaluateUniform(positions_, velocities_, local_, field);
        }
        if (counters_ != nullptr) {
            counters_->distanceTests += cache->count;
            counters_->contributing += field.reached - before;
        }
    }

    void count(TraceCounters* counters) { counters_ = counters; }

    // Normal and colour at the hit point h, at distance t: the four-point evaluators over the
    // intervals that contain t, colour gathered at h only.
    void shade(IntervalCollector& list, double t, const float h[3], const float fallback[3],
               float normal[3], float color[3]) const {
        double f[4];
        float points[4][3];
        if (prim_.useAverage) {
            FieldGradMovingAvg field(prim_.colors);
            setUpGrad(field, h);
            walkIntervalsKeep(list, t, [&](RayInterval* iv) { addGrad(iv, field); });
            averageSurfaceValue(field, settings_);
            finish(field, f, points, color);
        } else {
            FieldGradMoving field;
            field.colors = prim_.colors;
            setUpGrad(field, h);
            walkIntervalsKeep(list, t, [&](RayInterval* iv) { addGrad(iv, field); });
            finish(field, f, points, color);
        }
        if (prim_.texture.texmap != nullptr) {
            VelquinShadeContext context;
            for (int j = 0; j < 4; ++j) {
                modulateField(prim_.texture, context, points[j], f[j]);
            }
        }
        normalFromSamples(f, fallback, normal);
    }

private:
    void setUpGrad(FieldGradMoving& field, const float h[3]) const {
        // Colours belong to segment 0: later segments' extra metaballs add none.
        field.colorCount = prim_.segmentCounts[0];
        field.setPoints(h);
        field.radiusSq = prim_.radiusSq;
        field.kernel = prim_.fieldKernel;
        field.colorKernel = prim_.colorKernel;
    }

    void addGrad(RayInterval* iv, FieldGradMoving& field) const {
        MotionCache* cache = static_cast<MotionCache*>(iv->payload);
        if (sizes_ != nullptr) {
            cache->evaluateSizedGrad(positions_, velocities_, sizes_, sizeDeltas_, local_, field,
                                     prim_.useAverage);
        } else {
            cache->evaluateUniformGrad(positions_, velocities_, local_, field);
        }
    }

    void finish(const FieldGradMoving& field, double f[4], float points[4][3],
                float color[3]) const {
        for (int j = 0; j < 4; ++j) {
            f[j] = field.sums[j];
            for (int a = 0; a < 3; ++a) {
                points[j][a] = field.points[j][a];
            }
        }
        color[0] = color[1] = color[2] = 0.0f;
        const float w = static_cast<float>(field.colorWeightSum);
        // No colour weight at the hit: black rather than 0/0.
        if (prim_.colors != nullptr && w > 0.0f) {
            for (int c = 0; c < 3; ++c) {
                color[c] = field.colorSum[c] / w;
            }
        }
    }

    const VelquinMetaballPrimitiveMoving& prim_;
    float local_;
    const float* positions_;
    const float* velocities_;
    const double* sizes_;
    const double* sizeDeltas_;
    AverageSettings settings_;
    TraceCounters* counters_ = nullptr;
};

// The reach sets of moved metaballs: a leaf's metaballs moved to the ray's time (its motion
// cache, filled as the plain march fills it) and their sizes at that time.
struct MovedReachSets {
    const VelquinMetaballPrimitiveMoving* prim;
    std::int32_t segment;
    float local;
    IntervalCollector* storage;
    TraceCounters* counters;

    LeafReach* operator()(const RayInterval& iv, const MarchRay& ray, double tAbs) const {
        MotionCache* cache = static_cast<MotionCache*>(iv.payload);
        const float* positions = prim->segmentPositions[2 * segment];
        const float* velocities = prim->segmentPositions[2 * segment + 1];
        const double* sizes =
            prim->segmentSizes != nullptr ? prim->segmentSizes[2 * segment] : nullptr;
        if (cache->dirty) {
            cache->fillCentres(positions, velocities, local);
        }
        const double uniform = prim->radiusSq;
        const float uniformReach = reachCompareValue(uniform);
        if (sizes != nullptr) {
            cache->fillSizes(sizes, prim->segmentSizes[2 * segment + 1], local, false);
        }
        const double* radiusSq = sizes != nullptr ? cache->radiusSq : nullptr;
        return makeReachSet(
            cache->count, [&](std::int32_t j) { return cache->centres + 3 * j; },
            [&](std::int32_t j) { return radiusSq != nullptr ? radiusSq[j] : uniform; },
            [&](std::int32_t j) {
                return radiusSq != nullptr ? reachCompareValue(radiusSq[j]) : uniformReach;
            },
            [](std::int32_t) { return 0.0; }, [](std::int32_t) { return true; }, ray, tAbs,
            *storage, counters);
    }
};

VelquinMetaballPrimitiveMoving::~VelquinMetaballPrimitiveMoving() {
    release();
}

void VelquinMetaballPrimitiveMoving::release() {
    segmentTrees.clear();
    segmentStart.clear();
    for (std::int32_t i = 0; i < 2 * segmentCount; ++i) {
        if (segmentPositions != nullptr) {
            delete[] segmentPositions[i];
        }
        if (segmentSizes != nullptr) {
            delete[] segmentSizes[i];
        }
    }
    delete[] segmentPositions;
    delete[] segmentSizes;
    delete[] segmentCounts;
    delete[] colors;
    segmentPositions = nullptr;
    segmentSizes = nullptr;
    segmentCounts = nullptr;
    colors = nullptr;
    segmentCount = 0;
}

bool VelquinMetaballPrimitiveMoving::setup(CompiledMovingFrame& frame) {
    release();
    segmentCount = frame.params.segmentCount > 0 ? frame.params.segmentCount : 0;
    segmentPositions = frame.segmentPositions;
    segmentSizes = frame.segmentSizes;
    segmentCounts = frame.segmentCounts;
    colors = frame.colors;
    frame.segmentPositions = nullptr;
    frame.segmentSizes = nullptr;
    frame.segmentCounts = nullptr;
    frame.colors = nullptr;

    setupSettings(frame.params);

    box.tstart = 0.0f;
    box.tend = 1.0f;
    for (int a = 0; a < 3; ++a) {
        box.coord(a) = 1e20f;
        box.coord(3 + a) = -1e20f;
        box.coord(6 + a) = 1e20f;
        box.coord(9 + a) = -1e20f;
    }
    const float r0 = static_cast<float>(radius);
    auto widen = [&](const float* p, float r) {
        for (int a = 0; a < 3; ++a) {
            const float lo = p[a] - r;
            const float hi = p[a] + r;
            if (lo < box.coord(a)) {
                box.coord(a) = lo;
            }
            if (hi > box.coord(3 + a)) {
                box.coord(3 + a) = hi;
            }
        }
    };
    for (std::int32_t s = 0; s < segmentCount; ++s) {
        const float* pos = segmentPositions[2 * s];
        const double* sizes = segmentSizes != nullptr ? segmentSizes[2 * s] : nullptr;
        for (std::int32_t i = 0; i < segmentCounts[s]; ++i) {
            widen(pos + 3 * i, sizes != nullptr ? static_cast<float>(sizes[i]) : r0);
        }
    }
    if (segmentCount > 0) {
        const std::int32_t last = segmentCount - 1;
        const float* pos = segmentPositions[2 * last];
        const float* disp = segmentPositions[2 * last + 1];
        const double* sizes = segmentSizes != nullptr ? segmentSizes[2 * last] : nullptr;
        const double* deltas = segmentSizes != nullptr ? segmentSizes[2 * last + 1] : nullptr;
        for (std::int32_t i = 0; i < segmentCounts[last]; ++i) {
            const float end[3] = {pos[3 * i] + disp[3 * i], pos[3 * i + 1] + disp[3 * i + 1],
                                  pos[3 * i + 2] + disp[3 * i + 2]};
            float r = r0;
            if (sizes != nullptr) {
                r = static_cast<float>(sizes[i] + (deltas != nullptr ? deltas[i] : 0.0));
            }
            widen(end, r);
        }
    }
    // The second box (how the box changes over the shutter) starts empty and is clamped to
    // contain the origin; nothing widens it, so it ends as zeros: the first box already covers
    // every metaball over the whole shutter.
    for (int a = 0; a < 3; ++a) {
        box.coord(6 + a) = std::min(box.coord(6 + a), 0.0f);
        box.coord(9 + a) = std::max(box.coord(9 + a), 0.0f);
    }

    const BuildSettings b = buildSettings(frame.params);
    segmentTrees.resize(static_cast<std::size_t>(segmentCount));
    segmentStart.assign(static_cast<std::size_t>(segmentCount), 0.0f);
    for (std::int32_t s = 0; s < segmentCount; ++s) {
        const double* sizes = segmentSizes != nullptr ? segmentSizes[2 * s] : nullptr;
        const double* deltas = segmentSizes != nullptr ? segmentSizes[2 * s + 1] : nullptr;
        buildTree(segmentTrees[s], segmentPositions[2 * s], segmentPositions[2 * s + 1], sizes,
                  deltas, segmentCounts[s], b.radius, b.depth, b.leafSize, b.leafLength);
        if (s > 0) {
            segmentStart[s] = static_cast<float>(s) / static_cast<float>(segmentCount);
        }
    }
    segmentLength = segmentCount > 0 ? 1.0f / static_cast<float>(segmentCount) : 1.0f;

    owner = frame.owner;
    renderId = frame.renderId;
    hitTable = frame.hitTables;
    hitTableCount = frame.hitTableCount;
    return true;
}

void VelquinMetaballPrimitiveMoving::segmentOf(float time, std::int32_t& segment,
                                               float& local) const {
    // A time before the shutter opens would index before the first segment; one after it closes
    // would move metaballs (and grow their sizes) without bound, to infinity for an infinite
    // time, where the march could never pass them.
    if (!(time >= 0.0f)) {
        time = 0.0f;
    } else if (time > 1.0f) {
        time = 1.0f;
    }
    const float n = static_cast<float>(segmentCount);
    const float q = time / (1.0f / n);
    segment = q >= n ? segmentCount - 1 : static_cast<std::int32_t>(q);
    if (segment > segmentCount - 1) {
        segment = segmentCount - 1;
    }
    local = (time - segmentStart[segment]) / segmentLength;
}

bool VelquinMetaballPrimitiveMoving::intersectSurface(const SurfaceRay& ray,
                                                      SurfaceHit& hit) const {
    if (segmentCount <= 0) {
        return false;
    }
    double stepT = 0.0, errT = 0.0;
    if (!stepLengths(ray.direction, stepT, errT)) {
        return false;
    }
    // An origin that is not finite fails every box test's compares, which would make every leaf
    // an interval over the whole ray: no sample there could mean anything.
    if (!std::isfinite(ray.origin[0]) || !std::isfinite(ray.origin[1]) ||
        !std::isfinite(ray.origin[2])) {
        return false;
    }
    double t = ray.tMin + 2.0 * errT;

    std::int32_t segment = 0;
    float local = 0.0f;
    segmentOf(ray.time, segment, local);

    CollectorLease lease;
    IntervalCollector& list = lease.collector();
    const TraversalRay traversal(ray.origin, ray.direction, 0.0, static_cast<double>(1e18f));
    segmentTrees[segment]->intersect(traversal, list, local);
    list.finish();
    if (list.head == nullptr) {
        return false;
    }

    const float origin[3] = {static_cast<float>(ray.origin[0]), static_cast<float>(ray.origin[1]),
                             static_cast<float>(ray.origin[2])};
    MovingSource source(*this, segment, local);
    source.count(ray.counters);
    // The first sample, at the start, decides whether the ray starts inside.
    auto march = [&](auto& sampler) {
        double v0 = 0.0;
        if (!sampler.sampleOutside(t, t, v0)) {
            return false;
        }
        return marchIntervals(sampler, list, v0 > threshold, stepT, errT, t, false);
    };
    bool found = false;
    // The summed field with one of the seven kernels: reach sets, the kernel compiled in.
    const bool reaching = !useAverage && withKernelType(fieldKernel, [&](auto kernel) {
        using Source = ReachSummedSource<decltype(kernel), MovedReachSets>;
        const Source reachSource(*this, origin, ray.direction, ray.counters,
                                 MovedReachSets{this, segment, local, &list, ray.counters});
        FieldSampler<Source> sampler(reachSource, list, origin, ray.direction, ray.counters);
        found = march(sampler);
    });
    if (!reaching) {
        FieldSampler<MovingSource> sampler(source, list, origin, ray.direction, ray.counters);
        found = march(sampler);
    }
    if (!found) {
        return false;
    }
    if (!(t <= ray.nearest) || !(ray.tMin < t) || !(t < ray.tMax)) {
        return false;
    }
    hit.t = t;
    mixedPointAt(ray.origin, ray.direction, t, hit.point);
    // Facing back along the ray is the only sensible normal where the field is flat.
    float fallback[3];
    facingBack(ray.direction, fallback);
    source.shade(list, t, hit.point, fallback, hit.normal, hit.color);
    return true;
}

int VelquinMetaballPrimitiveMoving::intersect(VR::RayBase& ray) {
    SurfaceHit hit;
    SurfaceRay surfaceRay = surfaceRayOf(ray);
    if (ray.rc != nullptr) {
        surfaceRay.counters = countersOf(hitTable, hitTableCount, ray.rc->threadIndex);
    }
    if (!intersectSurface(surfaceRay, hit)) {
        return 0;
    }
    const float record[6] = {hit.normal[0], hit.normal[1], hit.normal[2],
                             hit.color[0],  hit.color[1],  hit.color[2]};
    reportHit(ray, this, hit.t, record);
    return 1;
}

VR::Vector VelquinMetaballPrimitiveMoving::getSurfaceNormal(ShadeContext& sc) {
    VR::VRayContext* rc = VR::VRayContext::fromShadeContext(sc);
    if (rc == nullptr) {
        return VR::Vector(0.0f, 0.0f, 1.0f);
    }
    // The moved metaballs existed only for the ray: the normal was kept at intersection time.
    const HitRecord* record =
        findHitRecord(hitTable, hitTableCount, rc->threadIndex, rc->slot, rc->rayTag);
    if (record == nullptr) {
        float fallback[3];
        facingBack(rc->ray.dir, fallback);
        return VR::Vector(fallback[0], fallback[1], fallback[2]);
    }
    return VR::Vector(record->data[0], record->data[1], record->data[2]);
}

} // namespace velquin
