// The summed field marched over reach sets (RayReach.h), for the still and the moving primitive:
// each interval's reach set is made on its first visit by the primitive's own maker, samples add
// the entries whose span holds them, and the same sets bound the field over a stretch of the ray
// so that the march can pass samples that cannot cross (Marcher.h). A map's value is not bounded,
// so a textured field is bounded only where nothing reaches: multiplied, a sum of 0 stays 0 (or
// NaN), which no threshold of 0 or more is below; subtracted, or from inside, nothing is known.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#include "field/Evaluators.h"
#include "raytrace/Primitive.h"
#include "raytrace/RayReach.h"

namespace velquin {

// The summed field of one sample.
struct ReachSum {
    double sum = 0.0;
    double t = 0.0;
    float point[3] = {0.0f, 0.0f, 0.0f};
};

inline double finishedValue(ReachSum& e, const AverageSettings&) {
    return e.sum;
}

// An interval's reach set, made by makeSet(interval, ray, tAbs) on the first visit and kept with
// the interval for the rest of the ray.
template <class MakeSet>
const LeafReach& reachSetOf(RayInterval* iv, const MarchRay& ray, const MakeSet& makeSet) {
    if (iv->rayData == nullptr) {
        const double tAbs = std::max(std::fabs(iv->tEnter), std::fabs(iv->tExit));
        iv->rayData = makeSet(*iv, ray, tAbs);
    }
    return *static_cast<const LeafReach*>(iv->rayData);
}

// The summed surface with the kernel K compiled into the loop.
template <class K, class MakeSet> class ReachSummedSource {
public:
    using Summed = ReachSum;
    using Average = ReachSum; // never taken: this source serves the summed surface only

    ReachSummedSource(const VelquinMetaballPrimitive& prim, const float origin[3],
                      const float direction[3], TraceCounters* counters, MakeSet makeSet)
        : prim_(prim), ray_(origin, direction), counters_(counters), makeSet_(makeSet) {}

    const VelquinMetaballPrimitive& primitive() const { return prim_; }
    const AverageSettings& averageSettings() const { return settings_; }

    void setUp(ReachSum& field, const float p[3], double t) const {
        field.t = t;
        field.point[0] = p[0];
        field.point[1] = p[1];
        field.point[2] = p[2];
    }

    void add(RayInterval* iv, ReachSum& field) const {
        addReach<K>(reachSetOf(iv, ray_, makeSet_), field.point, field.t, field.sum, counters_);
    }

    bool bounded() const {
        return !textured() || (!prim_.texture.textureType && prim_.threshold >= 0.0);
    }

    // The most any sample in [ta, tb] can sum: every listed interval that overlaps the stretch.
    double fieldMost(IntervalCollector& list, double ta, double tb) const {
        double most = 0.0;
        for (RayInterval* iv = list.head; iv != nullptr && iv->tEnter < tb; iv = iv->next) {
            if (iv->tExit > ta) {
                most += velquin::fieldMost<K>(reachSetOf(iv, ray_, makeSet_), ray_, ta, tb);
            }
        }
        if (textured()) {
            return most == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
        }
        return most * (1.0 + 1e-12);
    }

    // The least: an interval that holds the whole stretch adds to every sample in it; one that
    // overlaps it only in part may add to some, never less than its rounding below 0.
    double fieldLeast(IntervalCollector& list, double ta, double tb) const {
        if (textured()) {
            return -std::numeric_limits<double>::infinity();
        }
        double least = 0.0;
        for (RayInterval* iv = list.head; iv != nullptr && iv->tEnter < tb; iv = iv->next) {
            if (!(iv->tExit > ta)) {
                continue;
            }
            const LeafReach& set = reachSetOf(iv, ray_, makeSet_);
            if (iv->tEnter < ta && iv->tExit > tb) {
                least += velquin::fieldLeast<K>(set, ray_, ta, tb);
            } else {
                least -= kKernelSlack * set.count;
            }
        }
        return least - 1e-12 * std::fabs(least);
    }

private:
    bool textured() const { return prim_.texture.texmap != nullptr; }

    const VelquinMetaballPrimitive& prim_;
    MarchRay ray_;
    TraceCounters* counters_;
    MakeSet makeSet_;
    AverageSettings settings_;
};

} // namespace velquin
