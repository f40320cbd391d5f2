// The ray marcher shared by the still and the moving primitive, for the summed and the
// average-distance surface. A sampler supplies the field at a distance t along the ray; the
// march steps, jumps across gaps, drops intervals it has passed, and refines the first crossing
// of the threshold by bisection.
#pragma once

#include "field/RayIntervals.h"

namespace velquin {

// Visits the intervals that start before t (the list is sorted, so no later one can contain t).
// Intervals wholly behind tPrev are removed; visit(interval) is called for those whose exit lies
// beyond t and returns true to stop the walk early. Returns false when the list ran empty.
template <class Visit>
bool walkIntervals(IntervalCollector& list, double t, double tPrev, Visit&& visit) {
    RayInterval* prev = nullptr;
    RayInterval* iv = list.head;
    while (iv != nullptr && iv->tEnter < t) {
        if (tPrev > iv->tExit) {
            iv = list.remove(prev, iv);
            if (list.head == nullptr) {
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
template <class Visit>
void walkIntervalsKeep(const IntervalCollector& list, double t, Visit&& visit) {
    for (RayInterval* iv = list.head; iv != nullptr && iv->tEnter < t; iv = iv->next) {
        if (iv->tExit > t) {
            visit(iv);
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
// A step that no longer advances t (a distance so large that t + stepT == t) ends the search
// without a crossing: the march could otherwise never finish.
template <class Sampler>
bool marchIntervals(Sampler& sampler, IntervalCollector& list, bool inside, double stepT,
                    double errT, double& t, bool jumpToHead) {
    if (list.head == nullptr) {
        return false;
    }
    const double threshold = sampler.threshold();
    if (!inside) {
        if (jumpToHead && list.head->tEnter > t) {
            t = list.head->tEnter;
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
            if (list.head->tEnter > t) {
                t = list.head->tEnter; // skip the gap before the next box
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
    if (list.head == nullptr) {
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
