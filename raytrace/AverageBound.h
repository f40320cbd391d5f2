// An upper bound of the average-distance surface's value over a stretch of a ray, for the march
// to pass samples that cannot cross. The value at a sample is rf - |p - c|: rf the (trimmed)
// average radius, c the weighted average centre. Over the stretch each metaball's weight lies in
// a range (from the least and greatest distance a sample there can compute); the average radius
// is at most the largest size, trimmed by at most the smoothing of the largest weight sum, and
// the centre lies in the box of the weighted means those ranges allow. The sample points lie in
// a box too; the value is at most rf less the distance between the two boxes, with room for the
// single-precision arithmetic of the centre and the distance.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "field/Evaluators.h"

namespace velquin {

// One metaball that may weigh in somewhere on the stretch.
struct WeightRange {
    double low;  // its weight at every sample is at least this (0: it may add nothing)
    double high; // and at most this
    double centre[3];
    double size; // its plain size (sized surfaces), else 0
};

namespace detail {

// The smallest and largest weighted mean of the centres' coordinate on axis over weights within
// their ranges: each at a vertex of the weight box where the values on one side of some split
// take their highest weights and the rest their lowest, so one sort and two sweeps find both.
inline void meanRange(std::vector<WeightRange>& items, int axis, double& smallest,
                      double& largest) {
    // A handful of metaballs is the common case: an insertion sort, no call.
    const std::size_t n = items.size();
    if (n > 24) {
        std::sort(items.begin(), items.end(), [axis](const WeightRange& a, const WeightRange& b) {
            return a.centre[axis] < b.centre[axis];
        });
    }
    for (std::size_t i = 1; i < n && n <= 24; ++i) {
        const WeightRange item = items[i];
        std::size_t j = i;
        for (; j > 0 && items[j - 1].centre[axis] > item.centre[axis]; --j) {
            items[j] = items[j - 1];
        }
        items[j] = item;
    }
    double lowNum = 0.0, lowDen = 0.0;
    for (const WeightRange& w : items) {
        lowNum += w.low * w.centre[axis];
        lowDen += w.low;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double allLow = lowDen > 0.0 ? lowNum / lowDen : 0.0;
    largest = lowDen > 0.0 ? allLow : -inf;
    smallest = lowDen > 0.0 ? allLow : inf;
    double num = lowNum, den = lowDen;
    for (auto w = items.rbegin(); w != items.rend(); ++w) { // the largest values go high first
        num += (w->high - w->low) * w->centre[axis];
        den += w->high - w->low;
        if (den > 0.0) {
            largest = std::max(largest, num / den);
        }
    }
    num = lowNum;
    den = lowDen;
    for (const WeightRange& w : items) { // the smallest values go high first
        num += (w.high - w.low) * w.centre[axis];
        den += w.high - w.low;
        if (den > 0.0) {
            smallest = std::min(smallest, num / den);
        }
    }
}

// The smoothing factor of averageValueAt for weight sum w, when it applies.
inline double smoothingOf(double w, const AverageSettings& s) {
    const double span = 1.0 - s.cutoff;
    if (span == 0.0) {
        return (w / s.trim >= s.cutoff) ? 1.0 : 0.0;
    }
    const double u = (w / s.trim - s.cutoff) / span;
    return u < 0.0 ? 0.0 : (u > 1.0 ? 1.0 : (3.0 - 2.0 * u) * (u * u));
}

} // namespace detail

// The most the average value can be at a sample point within [pointLow, pointHigh] (per axis),
// given the metaballs that may weigh in there (items, reordered here). With none the weight sum
// is 0 and the value the empty one.
inline double averageValueMost(std::vector<WeightRange>& items, const double pointLow[3],
                               const double pointHigh[3], const AverageSettings& s) {
    if (items.empty()) {
        return kEmptyAverageValue;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    double weightMost = 0.0;
    double sizeMost = 0.0;
    double coordMost = 0.0;
    for (WeightRange& w : items) {
        // The centre sums narrow each weight to float.
        w.low *= 1.0 - 0x1p-22;
        w.high *= 1.0 + 0x1p-22;
        weightMost += w.high;
        sizeMost = std::max(sizeMost, w.size);
        for (int a = 0; a < 3; ++a) {
            coordMost = std::max(coordMost, std::fabs(w.centre[a]));
        }
    }
    weightMost *= 1.0 + 1e-12;
    if (!std::isfinite(weightMost) || !std::isfinite(coordMost)) {
        return inf;
    }

    // The radius: a weighted mean of the sizes, or the global radius; trimmed only while the
    // weight sum is below the global radius, by a factor of at most 1 that grows with the sum
    // when the blend band is a proper one.
    double radius = s.sized ? sizeMost * (1.0 + 0x1p-30) : s.radius;
    if (s.radius > 0.0 && weightMost < s.radius && s.trim > 0.0 && s.cutoff < 1.0) {
        radius *= std::min(1.0, detail::smoothingOf(weightMost * (1.0 + 1e-9), s) + 1e-9);
    }
    radius *= 1.0 + 0x1p-20;

    // The centre's box; the float sums and the division add a relative error of a few ulps per
    // term of the coordinates' magnitude.
    const double centreError =
        (static_cast<double>(items.size()) + 4.0) * 0x1p-21 * coordMost + 1e-30;
    double gapSq = 0.0;
    for (int a = 0; a < 3; ++a) {
        double low = 0.0, high = 0.0;
        detail::meanRange(items, a, low, high);
        const double gap =
            std::max({0.0, (low - centreError) - pointHigh[a], pointLow[a] - (high + centreError)});
        gapSq += gap * gap;
    }
    const double distance = std::sqrt(gapSq) * (1.0 - 0x1p-20);
    const double most = radius - distance + 0x1p-20 * (radius + distance);
    return std::max(most, kEmptyAverageValue);
}

} // namespace velquin
