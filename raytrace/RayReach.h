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
// values of at most a few units, so its computed value is within this of the exact one.
inline constexpr double kKernelSlack = 4e-15;

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

// The least squared distance a sample in [ta, tb] can compute to the centre (0 when it may lie at
// the centre).
inline double leastDistanceSq(const MarchRay& ray, const ClosestApproach& c, double error,
                              double ta, double tb) {
    const double g = c.tClosest < ta ? ta - c.tClosest : (c.tClosest > tb ? c.tClosest - tb : 0.0);
    const double exact = std::sqrt(c.closestSq + ray.directionSq * g * g) * (1.0 - 0x1p-40);
    const double d = exact - error;
    if (!(d > 0.0)) {
        return 0.0;
    }
    return d * d * kDistanceSqLow * (1.0 - 0x1p-40);
}

// The greatest squared distance a sample in [ta, tb] can compute to the centre.
inline double greatestDistanceSq(const MarchRay& ray, const ClosestApproach& c, double error,
                                 double ta, double tb) {
    const double g = std::max(std::fabs(ta - c.tClosest), std::fabs(tb - c.tClosest));
    const double d = std::sqrt(c.closestSq + ray.directionSq * g * g) * (1.0 + 0x1p-40) + error;
    return d * d * kDistanceSqHigh * (1.0 + 0x1p-40);
}

} // namespace velquin
