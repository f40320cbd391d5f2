#include "raytrace/StaticPrimitive.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "raytrace/AverageBound.h"
#include "raytrace/FieldSampler.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/ReachSource.h"

namespace velquin {

namespace {

// Still metaballs: a leaf's index list is added to the evaluator.
class StaticSource {
public:
    using Summed = Field;
    using Average = FieldAvg;

    explicit StaticSource(const VelquinMetaballPrimitiveStatic& prim)
        : prim_(prim), settings_(prim.averageSettings(prim.radii != nullptr)) {}

    const VelquinMetaballPrimitive& primitive() const { return prim_; }
    const AverageSettings& averageSettings() const { return settings_; }

    void setUp(Field& field, const float p[3]) const {
        field.setPoint(p);
        field.radiusSq = static_cast<double>(static_cast<float>(prim_.radiusSq));
        field.kernel = prim_.fieldKernel;
        field.positions = prim_.positions;
        field.perBallRadiusSq = prim_.radii;
    }

    void add(RayInterval* iv, Field& field) const {
        const FlatNode& node = FlatHierarchy::nodeOf(*iv);
        const std::int64_t before = field.reached;
        node.leaf->evaluate(field);
        if (counters_ != nullptr) {
            counters_->distanceTests += node.count;
            counters_->contributing += field.reached - before;
        }
    }

    void count(TraceCounters* counters) { counters_ = counters; }

private:
    const VelquinMetaballPrimitiveStatic& prim_;
    AverageSettings settings_;
    TraceCounters* counters_ = nullptr;
};

// The reach sets of still metaballs: a leaf's, from the laid-out hierarchy.
struct StillReachSets {
    const FlatHierarchy* flat;
    IntervalCollector* storage;
    TraceCounters* counters;

    LeafReach* operator()(const RayInterval& iv, const MarchRay& ray, double tAbs) const {
        return flat->reachSet(FlatHierarchy::nodeOf(iv), ray, tAbs, *storage, counters);
    }
};

// The average surface's sums of one sample, for the marches over the laid-out leaves.
struct PackedAverage {
    double sum = 0.0; // the finished value
    double t = 0.0;
    float point[3] = {0.0f, 0.0f, 0.0f};
    float weightedCentre[3] = {0.0f, 0.0f, 0.0f};
    double weightSum = 0.0;
    double weightedRadius = 0.0;
};

inline double finishedValue(PackedAverage& e, const AverageSettings& s) {
    e.sum = averageValueAt(e.point, e.weightedCentre, e.weightSum, e.weightedRadius, s);
    return e.sum;
}

// Still metaballs with the average-distance surface and the kernel K compiled in: the reach sets
// of the summed source, FieldAvg's sums over them, and a bound of the value over a stretch
// (AverageBound.h). There is no lower bound: rays inside the surface take every sample.
template <class K> class PackedAverageSource {
public:
    using Summed = PackedAverage; // never taken: this source serves the average surface only
    using Average = PackedAverage;

    PackedAverageSource(const VelquinMetaballPrimitiveStatic& prim, IntervalCollector& list,
                        const float origin[3], const float direction[3], TraceCounters* counters)
        : prim_(prim), settings_(prim.averageSettings(prim.radii != nullptr)),
          ray_(origin, direction), counters_(counters), sets_{&prim.flat, &list, counters} {}

    const VelquinMetaballPrimitive& primitive() const { return prim_; }
    const AverageSettings& averageSettings() const { return settings_; }

    void setUp(PackedAverage& field, const float p[3], double t) const {
        field.t = t;
        field.point[0] = p[0];
        field.point[1] = p[1];
        field.point[2] = p[2];
    }

    void add(RayInterval* iv, PackedAverage& field) const {
        addReachAverage<K>(reachOf(iv), field.point, field.t, field.weightedCentre, field.weightSum,
                           field.weightedRadius, counters_);
    }

    bool bounded() const { return prim_.texture.texmap == nullptr; }

    double fieldMost(IntervalCollector& list, double ta, double tb) const {
        std::vector<WeightRange>& items = items_.get();
        items.clear();
        for (RayInterval* iv = list.head; iv != nullptr && iv->tEnter < tb; iv = iv->next) {
            if (!(iv->tExit > ta)) {
                continue;
            }
            const LeafReach& set = reachOf(iv);
            const bool whole = iv->tEnter < ta && iv->tExit > tb;
            for (std::int32_t k = 0; k < set.count; ++k) {
                const ReachEntry& e = set.entries[k];
                if (tb < e.tLow || ta > e.tHigh) {
                    continue;
                }
                const double least = leastDistanceSq(ray_, e.bound, set.error, ta, tb);
                if (least < 0.0) {
                    continue;
                }
                WeightRange w;
                w.high =
                    K::eval(1.0, std::min(1.0, least * e.bound.inverseRadiusSq)) + kKernelSlack;
                w.low = 0.0;
                if (whole) {
                    const double most = greatestDistanceSq(ray_, e.bound, set.error, ta, tb);
                    if (most >= 0.0 && most <= e.bound.radiusSq) {
                        w.low = std::max(0.0, K::eval(1.0, most * e.bound.inverseRadiusSq) -
                                                  kKernelSlack);
                    }
                }
                w.centre[0] = e.x;
                w.centre[1] = e.y;
                w.centre[2] = e.z;
                w.size = e.size;
                items.push_back(w);
            }
        }
        const double error = ray_.pointError(std::max(std::fabs(ta), std::fabs(tb)));
        double low[3], high[3];
        for (int a = 0; a < 3; ++a) {
            const double pa = ray_.origin[a] + ray_.direction[a] * ta;
            const double pb = ray_.origin[a] + ray_.direction[a] * tb;
            low[a] = std::min(pa, pb) - error;
            high[a] = std::max(pa, pb) + error;
        }
        return averageValueMost(items, low, high, settings_);
    }

    double fieldLeast(IntervalCollector&, double, double) const {
        return -std::numeric_limits<double>::infinity();
    }

private:
    const LeafReach& reachOf(RayInterval* iv) const { return reachSetOf(iv, ray_, sets_); }

    const VelquinMetaballPrimitiveStatic& prim_;
    AverageSettings settings_;
    MarchRay ray_;
    TraceCounters* counters_;
    StillReachSets sets_;
    mutable ThreadLease<std::vector<WeightRange>> items_;
};

} // namespace

VelquinMetaballPrimitiveStatic::~VelquinMetaballPrimitiveStatic() {
    release();
}

void VelquinMetaballPrimitiveStatic::release() {
    flat.clear();
    rayTree.reset();
    delete[] positions;
    delete[] radii;
    delete[] colors;
    delete[] colorRadiiSq;
    positions = nullptr;
    radii = nullptr;
    colors = nullptr;
    colorRadiiSq = nullptr;
    count = 0;
}

bool VelquinMetaballPrimitiveStatic::setup(CompiledFrame& frame) {
    release();
    positions = frame.positions;
    radii = frame.sizes;
    colors = frame.colors;
    count = frame.count > 0 ? frame.count : 0;
    frame.positions = nullptr;
    frame.sizes = nullptr;
    frame.colors = nullptr;

    setupSettings(frame.params);

    const BuildSettings b = buildSettings(frame.params);
    buildTree(rayTree, positions, radii, count, b.radius, b.depth, b.leafSize, b.leafLength,
              frame.threads);

    // The primitive's box is the root's: every centre grown by its radius (the global one as a
    // float, or its own narrowed), in index order from an inverted box, is how both are summed.
    // A second pass over a million metaballs cost milliseconds for nothing.
    for (int a = 0; a < 3; ++a) {
        bbox[a] = rayTree ? rayTree->min[a] : 1e20f;
        bbox[a + 3] = rayTree ? rayTree->max[a] : -1e20f;
    }

    if (radii != nullptr && count >= 1) {
        if (!useAverage) {
            // The summed evaluators read squared sizes; the average ones square them themselves.
            for (std::int32_t i = 0; i < count; ++i) {
                radii[i] = radii[i] * radii[i];
            }
        } else if (colors != nullptr) {
            // The colour evaluator compares squared distances with squared sizes; the average
            // surface keeps plain ones, so the colour pass gets a squared copy of its own.
            colorRadiiSq = new (std::nothrow) double[count];
            if (colorRadiiSq == nullptr) {
                release();
                return false;
            }
            for (std::int32_t i = 0; i < count; ++i) {
                colorRadiiSq[i] = radii[i] * radii[i];
            }
        }
    }

    // The marches of the summed surface read squared sizes; the average surface's keep plain
    // ones beside their squares.
    if (!flat.build(*rayTree, positions, radii, static_cast<double>(static_cast<float>(radiusSq)),
                    frame.threads, useAverage)) {
        release();
        return false;
    }

    owner = frame.owner;
    renderId = frame.renderId;
    hitTable = frame.hitTables;
    hitTableCount = frame.hitTableCount;
    return true;
}

double VelquinMetaballPrimitiveStatic::valueAt(const float p[3]) const {
    const StaticSource source(*this);
    double v = 0.0;
    // The summed field with one of the seven kernels: the laid-out leaves, the kernel compiled in.
    const bool packed = withKernelType(fieldKernel, [&](auto kernel) {
        if (!useAverage) {
            v = flat.sumAt<decltype(kernel)>(p);
            return;
        }
        const float points[1][3] = {{p[0], p[1], p[2]}};
        float centre[1][3] = {{0.0f, 0.0f, 0.0f}};
        double weight[1] = {0.0}, radiusSum[1] = {0.0};
        flat.averageSumsAt<decltype(kernel)>(points, 1, centre, weight, radiusSum);
        v = averageValueAt(p, centre[0], weight[0], radiusSum[0], source.averageSettings());
    });
    if (!packed && useAverage) {
        FieldAvg field;
        source.setUp(field, p);
        rayTree->gatherAt(field);
        v = finishedValue(field, source.averageSettings());
    } else if (!packed) {
        Field field;
        source.setUp(field, p);
        rayTree->gatherAt(field);
        v = field.sum;
    }
    VelquinShadeContext context;
    modulateField(texture, context, p, v);
    return v;
}

bool VelquinMetaballPrimitiveStatic::intersectSurface(const SurfaceRay& ray,
                                                      SurfaceHit& hit) const {
    if (!rayTree) {
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

    CollectorLease lease;
    IntervalCollector& list = lease.collector();
    const TraversalRay traversal(ray.origin, ray.direction, 0.0, static_cast<double>(1e18f));
    ThreadLease<std::vector<FlatHierarchy::Feeder::Entry>> heap;
    FlatHierarchy::Feeder feeder(flat, traversal, heap.get());
    list.feeder = &feeder;
    if (list.exhausted()) {
        return false;
    }

    float start[3];
    mixedPointAt(ray.origin, ray.direction, t, start);
    const bool inside = valueAt(start) > threshold;

    const float origin[3] = {static_cast<float>(ray.origin[0]), static_cast<float>(ray.origin[1]),
                             static_cast<float>(ray.origin[2])};
    bool found = false;
    const bool packed = withKernelType(fieldKernel, [&](auto kernel) {
        auto march = [&](const auto& source) {
            FieldSampler<std::remove_cvref_t<decltype(source)>> sampler(
                source, list, origin, ray.direction, ray.counters);
            found = marchIntervals(sampler, list, inside, stepT, errT, t, true);
        };
        if (useAverage) {
            march(PackedAverageSource<decltype(kernel)>(*this, list, origin, ray.direction,
                                                        ray.counters));
        } else {
            march(ReachSummedSource<decltype(kernel), StillReachSets>(
                *this, origin, ray.direction, ray.counters,
                StillReachSets{&flat, &list, ray.counters}));
        }
    });
    if (!packed) {
        StaticSource source(*this);
        source.count(ray.counters);
        FieldSampler<StaticSource> sampler(source, list, origin, ray.direction, ray.counters);
        found = marchIntervals(sampler, list, inside, stepT, errT, t, true);
    }
    if (!found || !(t <= ray.nearest) || !(ray.tMin < t) || !(t < ray.tMax)) {
        return false;
    }
    hit.t = t;
    mixedPointAt(ray.origin, ray.direction, t, hit.point);
    if (colors != nullptr) {
        colorAt(hit.point, hit.color);
    }
    return true;
}

void VelquinMetaballPrimitiveStatic::colorAt(const float p[3], float color[3]) const {
    color[0] = color[1] = color[2] = 0.0f;
    if (colors == nullptr || !rayTree) {
        return;
    }
    FieldColor field;
    field.setPoint(p);
    field.radiusSq = static_cast<double>(static_cast<float>(radiusSq));
    field.kernel = colorKernel;
    field.positions = positions;
    field.perBallRadiusSq = colorRadiiSq != nullptr ? colorRadiiSq : radii;
    field.colors = colors;
    rayTree->gatherAt(field);
    const float w = static_cast<float>(field.sum);
    // No colour weight reaches p (possible at the fringe of a textured surface): black, never
    // the 0/0 of the plain division.
    if (!(w > 0.0f)) {
        return;
    }
    for (int c = 0; c < 3; ++c) {
        color[c] = field.colorSum[c] / w;
    }
}

void VelquinMetaballPrimitiveStatic::normalAt(const float p[3], const float fallback[3],
                                              float normal[3]) const {
    if (!rayTree) {
        for (int a = 0; a < 3; ++a) {
            normal[a] = fallback[a];
        }
        return;
    }
    double f[4];
    float points[4][3];
    auto gather = [&](FieldGrad& field) {
        field.setPoints(p);
        field.radiusSq = static_cast<double>(static_cast<float>(radiusSq));
        field.kernel = fieldKernel;
        field.positions = positions;
        field.perBallRadiusSq = radii;
        rayTree->gatherAtGrad(field);
        for (int j = 0; j < 4; ++j) {
            f[j] = field.sums[j];
            for (int a = 0; a < 3; ++a) {
                points[j][a] = field.points[j][a];
            }
        }
    };
    // One of the seven kernels: the laid-out leaves, the kernel compiled in.
    const bool packed = withKernelType(fieldKernel, [&](auto kernel) {
        FieldGrad field; // for its four points
        field.setPoints(p);
        for (int j = 0; j < 4; ++j) {
            f[j] = 0.0;
            for (int a = 0; a < 3; ++a) {
                points[j][a] = field.points[j][a];
            }
        }
        if (!useAverage) {
            flat.sumsAt<decltype(kernel)>(points, f);
            return;
        }
        float centre[4][3] = {};
        double weight[4] = {0.0, 0.0, 0.0, 0.0}, radiusSum[4] = {0.0, 0.0, 0.0, 0.0};
        flat.averageSumsAt<decltype(kernel)>(points, 4, centre, weight, radiusSum);
        const AverageSettings settings = averageSettings(radii != nullptr);
        for (int j = 0; j < 4; ++j) {
            f[j] = averageValueAt(points[j], centre[j], weight[j], radiusSum[j], settings);
        }
    });
    if (!packed && useAverage) {
        FieldGradAvg field;
        gather(field);
        averageSurfaceValue(field, averageSettings(radii != nullptr));
        for (int j = 0; j < 4; ++j) {
            f[j] = field.sums[j];
        }
    } else if (!packed) {
        FieldGrad field;
        gather(field);
    }
    if (texture.texmap != nullptr) {
        VelquinShadeContext context;
        for (int j = 0; j < 4; ++j) {
            modulateField(texture, context, points[j], f[j]);
        }
    }
    normalFromSamples(f, fallback, normal);
}

} // namespace velquin

namespace velquin {

SurfaceRay surfaceRayOf(const VR::RayBase& ray) {
    SurfaceRay r;
    for (int a = 0; a < 3; ++a) {
        r.origin[a] = ray.p[a];
        r.direction[a] = ray.dir[a];
    }
    r.tMin = ray.tmin;
    r.tMax = ray.tmax;
    r.nearest = ray.nearestDist;
    r.time = ray.time;
    return r;
}

void facingBack(const float direction[3], float normal[3]) {
    const float len = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                direction[2] * direction[2]);
    if (!(len > 0.0f) || !std::isfinite(len)) {
        normal[0] = 0.0f;
        normal[1] = 0.0f;
        normal[2] = 1.0f;
        return;
    }
    for (int a = 0; a < 3; ++a) {
        normal[a] = -direction[a] / len;
    }
}

int VelquinMetaballPrimitiveStatic::intersect(VR::RayBase& ray) {
    SurfaceHit hit;
    SurfaceRay surfaceRay = surfaceRayOf(ray);
    if (ray.rc != nullptr) {
        surfaceRay.counters = countersOf(hitTable, hitTableCount, ray.rc->threadIndex);
    }
    if (!intersectSurface(surfaceRay, hit)) {
        return 0;
    }
    const float record[6] = {hit.point[0], hit.point[1], hit.point[2],
                             hit.color[0], hit.color[1], hit.color[2]};
    reportHit(ray, this, hit.t, record);
    return 1;
}

VR::Vector VelquinMetaballPrimitiveStatic::getSurfaceNormal(ShadeContext& sc) {
    VR::VRayContext* rc = VR::VRayContext::fromShadeContext(sc);
    const float up[3] = {0.0f, 0.0f, 1.0f};
    if (rc == nullptr) {
        return VR::Vector(up[0], up[1], up[2]);
    }
    float fallback[3];
    facingBack(rc->ray.dir, fallback);
    const HitRecord* record =
        findHitRecord(hitTable, hitTableCount, rc->threadIndex, rc->slot, rc->rayTag);
    // Without this ray's record there is no hit point to evaluate; facing back along the ray is
    // the one normal that cannot turn the surface away from the viewer.
    if (record == nullptr) {
        return VR::Vector(fallback[0], fallback[1], fallback[2]);
    }
    float n[3];
    normalAt(record->data, fallback, n);
    return VR::Vector(n[0], n[1], n[2]);
}

} // namespace velquin
