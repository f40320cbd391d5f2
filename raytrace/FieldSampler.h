// The samples a march takes, for both primitives and both surfaces. A source says which
// evaluators a primitive uses, how they are set up at a point, and how an interval adds its
// metaballs; the sampler does the walks, the texture and the threshold decisions.
#pragma once

#include "field/Evaluators.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/Marcher.h"
#include "raytrace/Primitive.h"

namespace velquin {

// The finished value of an evaluator: the sum, or the average-distance value formed from it.
inline double finishedValue(Field& e, const AverageSettings&) {
    return e.sum;
}
inline double finishedValue(FieldMoving& e, const AverageSettings&) {
    return e.sum;
}
inline double finishedValue(FieldAvg& e, const AverageSettings& s) {
    averageSurfaceValue(e, s);
    return e.sum;
}
inline double finishedValue(FieldMovingAvg& e, const AverageSettings& s) {
    averageSurfaceValue(e, s);
    return e.sum;
}

// Source provides: types Summed and Average (Average derived from Summed); setUp(E&, p);
// add(RayInterval*, Summed&); averageSettings(); and primitive(), the primitive's settings.
template <class Source> class FieldSampler {
public:
    FieldSampler(const Source& source, IntervalCollector& list, const float origin[3],
                 const float direction[3], TraceCounters* counters = nullptr)
        : source_(source), prim_(source.primitive()), list_(list), origin_(origin),
          direction_(direction), counters_(counters) {}

    double threshold() const { return prim_.threshold; }

    // The full walk with removal; the texture after it.
    bool sampleOutside(double t, double tPrev, double& v) {
        countSample();
        return prim_.useAverage ? full<typename Source::Average>(t, tPrev, v)
                                : full<typename Source::Summed>(t, tPrev, v);
    }

    bool sampleInside(double t, double tPrev, bool& inside) {
        countSample();
        if (prim_.useAverage) {
            double v = 0.0;
            if (!full<typename Source::Average>(t, tPrev, v)) {
                return false;
            }
            inside = !(v < prim_.threshold);
            return true;
        }
        // Summed field: the texture first, once per sample; the walk stops as soon as the
        // modulated partial sum is above the threshold, since contributions are never negative.
        float p[3];
        samplePointAt(origin_, direction_, t, p);
        const bool textured = prim_.texture.texmap != nullptr;
        const float tex = textured ? textureAt(prim_.texture, context_, p) : 0.0f;
        typename Source::Summed field;
        setUp(field, p, t);
        bool early = false;
        if (!walkIntervals(list_, t, tPrev, [&](RayInterval* iv) {
                source_.add(iv, field);
                const double partial =
                    textured ? applyTexture(prim_.texture, tex, field.sum) : field.sum;
                early = partial > prim_.threshold;
                return early;
            })) {
            return false;
        }
        if (early) {
            inside = true;
            return true;
        }
        const double v = textured ? applyTexture(prim_.texture, tex, field.sum) : field.sum;
        inside = !(v < prim_.threshold);
        return true;
    }

    // Bounds, where the source has them and says they hold (a map's value is not bounded, so
    // each source says what it can prove of a textured field): no sample in [ta, tb] can cross
    // from outside (fieldBelow) or from inside (fieldAbove). The list is first fed to tb, which
    // changes nothing the march decides: the feeder appends in the order it would anyway.
    bool bounded() const {
        if constexpr (requires { source_.fieldMost(list_, 0.0, 0.0); }) {
            return source_.bounded();
        }
        return false;
    }
    bool fieldBelow(double ta, double tb) {
        if constexpr (requires { source_.fieldMost(list_, ta, tb); }) {
            list_.feedTo(tb);
            return source_.fieldMost(list_, ta, tb) <= prim_.threshold;
        }
        return false;
    }
    bool fieldAbove(double ta, double tb) {
        if constexpr (requires { source_.fieldLeast(list_, ta, tb); }) {
            list_.feedTo(tb);
            return source_.fieldLeast(list_, ta, tb) >= prim_.threshold;
        }
        return false;
    }
    void countSkipped(std::int64_t n) {
        if (counters_ != nullptr) {
            counters_->skipped += n;
        }
    }

    // Walks without removing; the texture after the walk.
    double sampleRefine(double t) {
        countSample();
        return prim_.useAverage ? refine<typename Source::Average>(t)
                                : refine<typename Source::Summed>(t);
    }

private:
    // Sources that use the sample's t (to pass over metaballs out of reach there) get it.
    template <class E> void setUp(E& field, const float p[3], double t) const {
        if constexpr (requires { source_.setUp(field, p, t); }) {
            source_.setUp(field, p, t);
        } else {
            source_.setUp(field, p);
        }
    }

    void countSample() {
        if (counters_ != nullptr) {
            ++counters_->samples;
        }
    }

    template <class E> bool full(double t, double tPrev, double& v) {
        float p[3];
        samplePointAt(origin_, direction_, t, p);
        E field;
        setUp(field, p, t);
        if (!walkIntervals(list_, t, tPrev, [&](RayInterval* iv) {
                source_.add(iv, field);
                return false;
            })) {
            return false;
        }
        v = finishedValue(field, source_.averageSettings());
        modulateField(prim_.texture, context_, p, v);
        return true;
    }

    template <class E> double refine(double t) {
        float p[3];
        samplePointAt(origin_, direction_, t, p);
        E field;
        setUp(field, p, t);
        walkIntervalsKeep(list_, t, [&](RayInterval* iv) { source_.add(iv, field); });
        double v = finishedValue(field, source_.averageSettings());
        modulateField(prim_.texture, context_, p, v);
        return v;
    }

    const Source& source_;
    const VelquinMetaballPrimitive& prim_;
    IntervalCollector& list_;
    const float* origin_;
    const float* direction_;
    VelquinShadeContext context_;
    TraceCounters* counters_;
};

} // namespace velquin
