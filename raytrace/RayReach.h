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
inline double greatestDistanceSq(const MarchRay& ray, const ReachBound& b, double error,
                                 double ta, double tb) {
    const double tc = b.closest.tClosest;
    const double g = std::max(std::fabs(ta - tc), std::fabs(tb - tc));
    const double lineSq = (b.closest.closestSq + ray.directionSq * g * g) * (1.0 + 0x1p-40);
    if (!(lineSq <= b.radiusSq)) {
        return -1.0;
    }
    const double d2 = (lineSq + 2.0 * error * b.reach + error * error) * kDistanceSqHigh;
    return d2 * (1.0 + 0x1p-40);
}

} // namespace velquin
