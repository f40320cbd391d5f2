// The ray marcher shared by the still and the moving primitive, for the summed and the
// average-distance surface. A sampler supplies the field at a distance t along the ray; the
// march steps, jumps across gaps, drops intervals it has passed, and refines the first crossing
// of the threshold by bisection.
#pragma once

#include <cmath>

#include "field/RayIntervals.h"

namespace velquin {

// Visits the intervals that start before t (the list is sorted, so no later one can contain t).
// Intervals wholly behind tPrev are removed; visit(interval) is called for those whose exit lies
// beyond t and returns true to stop the walk early. Returns false when the list ran empty.
// A lazy list is first extended to every interval that starts before t.
template <class Visit>
bool walkIntervals(IntervalCollector& list, double t, double tPrev, Visit&& visit) {
    list.feedTo(t);
    RayInterval* prev = nullptr;
    RayInterval* iv = list.head;
    while (iv != nullptr && iv->tEnter < t) {
        if (tPrev > iv->tExit) {
            iv = list.remove(prev, iv);
            if (list.head == nullptr && list.exhausted()) {
                return false;
            }
            continue;
        }
        if (iv->tExit > t && visit(iv)) {
            return true;
        }
        prev = iv;
        iv = iv->next;
    }
    return true;
}

// The refinement walk: the same visit rule, nothing removed.
template <class Visit> void walkIntervalsKeep(IntervalCollector& list, double t, Visit&& visit) {
    list.feedTo(t);
    for (RayInterval* iv = list.head; iv != nullptr && iv->tEnter < t; iv = iv->next) {
        if (iv->tExit > t) {
            visit(iv);
        }
    }
}

// Unlinks every interval whose entry or exit is NaN or infinite: the march could never pass it.
inline void dropUnpassableIntervals(IntervalCollector& list) {
    RayInterval* prev = nullptr;
    RayInterval* iv = list.head;
    while (iv != nullptr) {
        if (std::isfinite(iv->tEnter) && std::isfinite(iv->tExit)) {
            prev = iv;
            iv = iv->next;
        } else {
            iv = list.remove(prev, iv);
        }
    }
}

// A sampler provides:
//   bool sampleOutside(double t, double tPrev, double& v): full walk, modulated value; false
//       when the list ran empty;
//   bool sampleInside(double t, double tPrev, bool& inside): the inside branch's sample (the
//       summed field may stop early once the partial sum proves the sample inside); false when
//       the list ran empty;
//   double sampleRefine(double t): the modulated value, walking without removing;
//   double threshold() const.
//
// jumpToHead: the still primitive moves a ray that starts outside to the head interval's entry
// before its first sample; the moving primitive samples its start once more instead.
//
// Every march ends, whatever the ray and the parameters:
// - Inputs: a step that is not a positive finite length, an error that is NaN or below 0, or a
//   start t that is NaN ends the search at once without a crossing (nothing could be stepped or
//   refined). Sound rays never meet this: step and error are positive lengths divided by a
//   positive finite direction length.
// - Intervals: the walk removes an interval once the march has passed its exit, and the march
//   ends when the list runs empty. An interval with a NaN or infinite end could never be passed
//   (or, with a NaN entry, would end every walk before the intervals behind it), so it is
//   dropped before the march. The hierarchies give only finite intervals within [0, 1e18] for a
//   ray whose origin is finite (the inverse direction is clamped), so this changes no result.
// - Stepping: a step that no longer advances t (a distance so large that t + stepT == t) ends
//   the search without a crossing. A step that does advance a t >= 0 advances it by at least
//   stepT / 2 (round to nearest loses at most half the spacing at t + stepT, and an advanced t
//   gains at least the spacing at t), so a stretch of length L costs at most 2 L / stepT + 1
//   samples, and the march ends two samples after the last exit it reaches.
// - Refinement: h halves from stepT / 2 until it is no longer above errT >= 0; t takes no part
//   in the test, so at a distance where t - h == t the last samples merely repeat.
// So the samples of one ray are bounded by about 2 (last exit - start) / stepT plus a few per
// interval, and no lower cap is taken: a ray that crosses a long leaf with a short step needs
// those samples for its answer, and any cap below them could change it.
template <class Sampler>
bool marchIntervals(Sampler& sampler, IntervalCollector& list, bool inside, double stepT,
                    double errT, double& t, bool jumpToHead) {
    if (!(stepT > 0.0) || std::isinf(stepT) || !(errT >= 0.0) || std::isnan(t)) {
        return false;
    }
    dropUnpassableIntervals(list);
    double first = 0.0;
    if (!list.firstEnter(first)) {
        return false;
    }
    const double threshold = sampler.threshold();
    if (!inside) {
        if (jumpToHead && first > t) {
            t = first;
        }
        double tPrev = t;
        for (;;) {
            double v = 0.0;
            if (!sampler.sampleOutside(t, tPrev, v)) {
                return false;
            }
            if (v > threshold) {
                break;
            }
            double next = 0.0;
            if (list.firstEnter(next) && next > t) {
                t = next; // skip the gap before the next box
                tPrev = t;
            } else {
                tPrev = t;
                const double next = t + stepT;
                if (!(next > t)) {
                    return false;
                }
                t = next;
            }
        }
    } else {
        double tPrev = t;
        for (;;) {
            bool stillInside = true;
            if (!sampler.sampleInside(t, tPrev, stillInside)) {
                return false;
            }
            if (!stillInside) {
                break;
            }
            tPrev = t;
            const double next = t + stepT;
            if (!(next > t)) {
                return false;
            }
            t = next;
        }
    }

    // The crossing lies between the last two samples.
    if (list.exhausted()) {
        return false;
    }
    double h = stepT / 2.0;
    t = t - h;
    while (h > errT) {
        const double v = sampler.sampleRefine(t);
        h = h / 2.0;
        const bool past = inside ? (v < threshold) : (v > threshold);
        t = past ? t - h : t + h;
    }
    return true;
}

} // namespace velquin
