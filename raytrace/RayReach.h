// What a march can know about a metaball before it samples: where the ray passes closest to it,
// over which span of t a sample could lie within its reach, and how large or small its kernel
// can be over a stretch of the ray. Everything here is an enclosure of the single-precision
// arithmetic the samples really do (sample points, squared distances), so that a metaball left
// out is provably out of reach and a bound is provably a bound; the samples themselves are never
// computed here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "field/RayIntervals.h"
#include "raytrace/HitRecordTable.h"

namespace velquin {

// A ray as its march samples it: p(t) = origin + direction x (float)t, products and sums in single
// precision, held here in double with the error of that arithmetic.
struct MarchRay {
    double origin[3];
    double direction[3];
    double directionSq = 0.0; // |direction|^2
    double originMax = 0.0;   // largest |origin component|
    double directionMax = 0.0;

    MarchRay(const float o[3], const float d[3]) {
        for (int a = 0; a < 3; ++a) {
            origin[a] = o[a];
            direction[a] = d[a];
            originMax = std::max(originMax, std::fabs(origin[a]));
            directionMax = std::max(directionMax, std::fabs(direction[a]));
        }
        directionSq =
            direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2];
    }

    // How far a sample point taken at any t with |t| <= tAbs can lie from the exact point
    // origin + direction x t, with room for the double rounding of the closest-approach
    // arithmetic below. Each coordinate of a sample is off by at most 2^-24 (3 |d t| + |o|)
    // (rounding t, the product and the sum); 2^-20 leaves a factor of nine over the Euclidean
    // length of that, and 2^-40 of the magnitudes covers the double arithmetic.
    double pointError(double tAbs) const {
        const double reach = 3.0 * directionMax * tAbs + originMax;
        return reach * 0x1p-20 + 0x1p-40 * (reach + directionMax * tAbs);
    }
};

// A squared distance computed in single precision (c + (0 - p) per axis, squared, summed x + y
// then + z) lies within a relative 5 x 2^-24 of the exact one; these widen by 2^-21.
inline constexpr double kDistanceSqLow = 1.0 - 0x1p-21;
inline constexpr double kDistanceSqHigh = 1.0 + 0x1p-21;

// Room for the rounding of one kernel evaluation: every kernel is a handful of operations on
// values of at most a few units with a slope of at most 5, so its computed value, and the value a
// bound computes from the ratio d2 x (1 / r2) instead of d2 / r2, are within this of the exact.
inline constexpr double kKernelSlack = 1e-14;

// Where the ray passes a metaball centre: the closest approach at tClosest, at squared distance
// closestSq from the exact line.
struct ClosestApproach {
    double tClosest;
    double closestSq;
};

inline ClosestApproach closestApproach(const MarchRay& ray, double cx, double cy, double cz) {
    const double w[3] = {cx - ray.origin[0], cy - ray.origin[1], cz - ray.origin[2]};
    const double along =
        w[0] * ray.direction[0] + w[1] * ray.direction[1] + w[2] * ray.direction[2];
    const double tc = along / ray.directionSq;
    const double q[3] = {w[0] - tc * ray.direction[0], w[1] - tc * ray.direction[1],
                         w[2] - tc * ray.direction[2]};
    return ClosestApproach{tc, q[0] * q[0] + q[1] * q[1] + q[2] * q[2]};
}

// The reach radius as an exact distance: any sample whose computed squared distance is at most
// radiusSq lies within this distance of the centre.
inline double reachDistance(double radiusSq) {
    return std::sqrt(radiusSq * (1.0 + 0x1p-20));
}

// The half-width of the span of t around the closest approach over which a sample can be within
// reach (reach plus the point error); negative when the ray passes too far for any.
inline double reachHalfSpan(const MarchRay& ray, double closestSq, double reach, double error) {
    const double r = reach + error;
    const double rest = r * r - closestSq;
    if (rest < 0.0) {
        return -1.0;
    }
    const double h = std::sqrt(rest / ray.directionSq);
    return h * (1.0 + 0x1p-30) + 0x1p-40 * r / std::sqrt(ray.directionSq);
}

// A metaball as the bounds read it: where the ray passes it, its size, and how far from the exact
// line a sample can still reach it.
struct ReachBound {
    ClosestApproach closest;
    double radiusSq;
    double inverseRadiusSq; // 1 / radiusSq, for the kernels' ratio (the slack covers its rounding)
    double reach;           // reachDistance(radiusSq)
    double farthest;        // reach + the point error: no sample beyond this distance reaches
    double farthestSq;      // farthest^2, widened
};

// The least squared distance a sample in [ta, tb] can compute to the centre, or a negative value
// when no sample there can reach it. D is the exact line's least distance over the stretch; a
// sample lies within the point error e of the line, so its distance is at least D - e and its
// square at least D^2 - 2 e D, with D at most farthest where it matters.
inline double leastDistanceSq(const MarchRay& ray, const ReachBound& b, double error, double ta,
                              double tb) {
    const double tc = b.closest.tClosest;
    const double g = tc < ta ? ta - tc : (tc > tb ? tc - tb : 0.0);
    const double lineSq = b.closest.closestSq + ray.directionSq * g * g;
    if (lineSq > b.farthestSq) {
        return -1.0;
    }
    const double d2 = (lineSq * (1.0 - 0x1p-40) - 2.0 * error * b.farthest) * kDistanceSqLow;
    return d2 > 0.0 ? d2 * (1.0 - 0x1p-40) : 0.0;
}

// The greatest squared distance a sample in [ta, tb] can compute to the centre, or a negative
// value when that may lie beyond its reach: (D + e)^2 = D^2 + 2 e D + e^2 with D within reach.
inline double greatestDistanceSq(const MarchRay& ray, const ReachBound& b, double error, double ta,
                                 double tb) {
    const double tc = b.closest.tClosest;
    const double g = std::max(std::fabs(ta - tc), std::fabs(tb - tc));
    const double lineSq = (b.closest.closestSq + ray.directionSq * g * g) * (1.0 + 0x1p-40);
    if (!(lineSq <= b.radiusSq)) {
        return -1.0;
    }
    const double d2 = (lineSq + 2.0 * error * b.reach + error * error) * kDistanceSqHigh;
    return d2 * (1.0 + 0x1p-40);
}

// The metaballs of one leaf that one ray can reach, in the leaf's order, are a reach set: made
// on the leaf's first visit (FlatHierarchy::reachSet for still metaballs, reachSetOf for moved
// ones), then every sample tests only the entries whose span holds it.

// One metaball of a leaf that a ray passes within reach of: its packed coordinates and size, the
// span of t outside which no sample can reach it, and the ray's closest approach.
struct ReachEntry {
    float x, y, z;
    float reach; // the single-precision compare value of its squared size
    double size; // its plain size (sized average surface only, else 0)
    double tLow, tHigh;
    ReachBound bound;
};

// The metaballs of one leaf that one ray can reach, in the leaf's order.
struct LeafReach {
    std::int32_t count = 0;
    double error = 0.0; // the sample points' error over the leaf's interval
    ReachEntry* entries = nullptr;
};

// The single-precision compare value of a squared size: the largest float whose double value does
// not exceed r2, so that s <= it is exactly (double)s <= r2; -1 (never reached) for a squared
// size of 0 or below, or NaN, which reach nothing.
inline float reachCompareValue(double r2) {
    if (!(r2 > 0.0)) {
        return -1.0f;
    }
    float f = static_cast<float>(r2);
    if (static_cast<double>(f) > r2) {
        f = std::nextafter(f, -1.0f);
    }
    return f;
}

// Builds the reach set of count metaballs for a march along ray at |t| <= tAbs, from storage (the
// ray's collector). centre(j) gives a metaball's centre (three floats), radiusSq(j) its squared
// size, reach(j) the compare value of it, size(j) its plain size (0 where unused); near(j) is
// false only for a metaball already shown beyond reach of the whole ray. Every metaball left out
// computes a squared distance beyond its reach at every such sample.
template <class Centre, class RadiusSq, class Reach, class Size, class Near>
LeafReach* makeReachSet(std::int32_t count, Centre&& centre, RadiusSq&& radiusSq, Reach&& reach,
                        Size&& size, Near&& near, const MarchRay& ray, double tAbs,
                        IntervalCollector& storage, TraceCounters* counters) {
    LeafReach* set = storage.make<LeafReach>();
    set->error = ray.pointError(tAbs);
    if (count <= 0) {
        return set;
    }
    set->entries = storage.makeArray<ReachEntry>(static_cast<std::size_t>(count));
    std::int32_t n = 0;
    for (std::int32_t j = 0; j < count; ++j) {
        if (!near(j)) {
            continue;
        }
        const double r2 = radiusSq(j);
        if (!(r2 > 0.0)) {
            continue; // reaches nothing
        }
        const float* c = centre(j);
        const ClosestApproach closest = closestApproach(ray, c[0], c[1], c[2]);
        const double distance = reachDistance(r2);
        const double h = reachHalfSpan(ray, closest.closestSq, distance, set->error);
        if (h < 0.0) {
            continue; // the ray passes beyond its reach (a NaN keeps it: nothing is proven)
        }
        ReachEntry& e = set->entries[n++];
        e.x = c[0];
        e.y = c[1];
        e.z = c[2];
        e.reach = reach(j);
        e.size = size(j);
        e.tLow = closest.tClosest - h;
        e.tHigh = closest.tClosest + h;
        e.bound.closest = closest;
        e.bound.radiusSq = r2;
        e.bound.inverseRadiusSq = 1.0 / r2;
        e.bound.reach = distance;
        e.bound.farthest = distance + set->error;
        e.bound.farthestSq = e.bound.farthest * e.bound.farthest * (1.0 + 0x1p-40);
    }
    set->count = n;
    if (counters != nullptr) {
        ++counters->leafVisits;
        counters->candidates += n;
    }
    return set;
}

// Calls reached(entry, s) for every entry of a reach set within reach of the sample (p, t), in
// the set's order, s being the squared distance as distanceSq computes it: only the entries
// whose span holds t are tested.
template <class Reached>
void forReached(const LeafReach& set, const float p[3], double t, TraceCounters* counters,
                Reached&& reached) {
    const float px = 0.0f - p[0], py = 0.0f - p[1], pz = 0.0f - p[2];
    std::int64_t tests = 0;
    std::int64_t within = 0;
    for (std::int32_t k = 0; k < set.count; ++k) {
        const ReachEntry& e = set.entries[k];
        if (t < e.tLow || t > e.tHigh) {
            continue;
        }
        ++tests;
        const float dx = e.x + px;
        const float dy = e.y + py;
        const float dz = e.z + pz;
        float s = dx * dx + dy * dy;
        s = s + dz * dz;
        if (s <= e.reach) {
            reached(e, s);
            ++within;
        }
    }
    if (counters != nullptr) {
        counters->distanceTests += tests;
        counters->contributing += within;
    }
}

// The summed field's contributions with kernel K: exactly what the leaf's full evaluation adds.
template <class K>
void addReach(const LeafReach& set, const float p[3], double t, double& sum,
              TraceCounters* counters) {
    forReached(set, p, t, counters, [&](const ReachEntry& e, float s) {
        sum += K::eval(e.bound.radiusSq, static_cast<double>(s));
    });
}

// The average surface's sums with kernel K: FieldAvg's arithmetic.
template <class K>
void addReachAverage(const LeafReach& set, const float p[3], double t, float weightedCentre[3],
                     double& weightSum, double& weightedRadius, TraceCounters* counters) {
    forReached(set, p, t, counters, [&](const ReachEntry& e, float s) {
        const double w = K::eval(e.bound.radiusSq, static_cast<double>(s));
        const float wf = static_cast<float>(w);
        weightedCentre[0] = weightedCentre[0] + e.x * wf;
        weightedCentre[1] = weightedCentre[1] + e.y * wf;
        weightedCentre[2] = weightedCentre[2] + e.z * wf;
        weightSum += w;
        weightedRadius += w * e.size;
    });
}

template <class K>
double fieldMost(const LeafReach& set, const MarchRay& ray, double ta, double tb) {
    double most = 0.0;
    for (std::int32_t k = 0; k < set.count; ++k) {
        const ReachEntry& e = set.entries[k];
        if (tb < e.tLow || ta > e.tHigh) {
            continue;
        }
        const double d2 = leastDistanceSq(ray, e.bound, set.error, ta, tb);
        if (d2 >= 0.0) {
            most += K::eval(1.0, std::min(1.0, d2 * e.bound.inverseRadiusSq)) + kKernelSlack;
        }
    }
    return most;
}

template <class K>
double fieldLeast(const LeafReach& set, const MarchRay& ray, double ta, double tb) {
    double least = 0.0;
    for (std::int32_t k = 0; k < set.count; ++k) {
        const ReachEntry& e = set.entries[k];
        if (tb < e.tLow || ta > e.tHigh) {
            continue;
        }
        const double d2 = greatestDistanceSq(ray, e.bound, set.error, ta, tb);
        // Within reach at every sample: the kernel at the farthest; otherwise it may add nothing,
        // or a kernel value that rounding left a hair below 0.
        const bool sure = d2 >= 0.0 && d2 <= e.bound.radiusSq;
        least += (sure ? K::eval(1.0, d2 * e.bound.inverseRadiusSq) : 0.0) - kKernelSlack;
    }
    return least;
}

} // namespace velquin
