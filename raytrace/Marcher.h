// The ray marcher shared by the still and the moving primitive, for the summed and the
// average-distance surface. A sampler supplies the field at a distance t along the ray; the
// march steps, jumps across gaps, drops intervals it has passed, and refines the first crossing
// of the threshold by bisection.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>

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

// What the walk of a sample at t (previous sample tPrev) does to the list, without visiting it for
// a value: for a sample that bounds have shown cannot cross. Only the head decides the march's
// next move (its jump across a gap) and whether the list ran empty, so only the head is removed
// while it lies wholly behind tPrev; the intervals the walk would also have removed behind it lie
// behind every later sample too, add nothing, and go with the next walk that visits them.
// Returns false when the list ran empty, as the walk does.
inline bool passIntervals(IntervalCollector& list, double t, double tPrev) {
    list.feedTo(t);
    while (list.head != nullptr && list.head->tEnter < t && tPrev > list.head->tExit) {
        list.remove(nullptr, list.head);
        if (list.head == nullptr && list.exhausted()) {
            return false;
        }
    }
    return true;
}

// Which samples a march may pass without a value. A sampler with bounds answers, for a stretch
// [ta, tb] of the ray, whether no sample in it can cross (fieldBelow: every value at or below the
// threshold; fieldAbove: every value at or above it). The stretch grows while the answers are
// yes and shrinks when one is no, so that the bounds cost little next to the samples they save
// far from the surface and little near it, where every sample is taken.
class SkipWindow {
public:
    // True when the sample at t is proven not to cross; ask(ta, tb) is the sampler's answer.
    double provenTo() const { return provenTo_; }

    template <class Ask> bool covers(double t, double stepT, Ask&& ask) {
        if (proven_ && t <= provenTo_) {
            return true;
        }
        if (rest_ > 0) {
            --rest_;
            return false;
        }
        const double tb = t + stepT * steps_;
        if (tb > t && ask(t, tb)) {
            proven_ = true;
            provenTo_ = tb;
            steps_ = std::min(steps_ * 2.0, kMostSteps);
            return true;
        }
        if (steps_ > 1.0) {
            steps_ = std::max(1.0, steps_ / 4.0);
        } else {
            rest_ = kRestAfterFailure;
        }
        return false;
    }

private:
    static constexpr double kMostSteps = 1024.0;
    static constexpr int kRestAfterFailure = 2;
    bool proven_ = false;
    double provenTo_ = 0.0; // with proven_, every sample up to here cannot cross
    double steps_ = 4.0;    // the next stretch, in steps
    int rest_ = 0;          // samples to take before asking again
};

// After a passed sample at t: passes the samples after it that change nothing but t, that is
// every one up to the proven end (the list is fed that far) whose walk would remove nothing
// (the head's exit is not behind the sample before it) and before which the march would not
// jump (the head has been entered). Leaves t and tPrev at the last sample passed, exactly as the
// step-by-step march would, and returns how many it passed.
inline std::int64_t passRun(const IntervalCollector& list, double provenTo, double stepT, double& t,
                            double& tPrev) {
    const RayInterval* head = list.head;
    if (head == nullptr || head->tEnter > t) {
        return 0;
    }
    const double lastPrev = head->tExit;
    std::int64_t passed = 0;
    for (;;) {
        const double next = t + stepT;
        if (!(next > t) || next > provenTo || t > lastPrev) {
            return passed;
        }
        tPrev = t;
        t = next;
        ++passed;
    }
}

template <class Sampler>
concept BoundingSampler = requires(Sampler& s, double t) {
    { s.bounded() } -> std::convertible_to<bool>;
    { s.fieldBelow(t, t) } -> std::convertible_to<bool>;
    { s.fieldAbove(t, t) } -> std::convertible_to<bool>;
    s.countSkipped(std::int64_t{1});
};

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
    [[maybe_unused]] bool bounded = false;
    if constexpr (BoundingSampler<Sampler>) {
        bounded = sampler.bounded();
    }
    // Passes the sample at t, and the run after it, when ask proves that none can cross.
    enum class Pass { NotProven, Passed, ListEnded };
    double tPrev = t;
    SkipWindow window;
    auto tryPass = [&](auto&& ask) {
        if constexpr (BoundingSampler<Sampler>) {
            if (bounded && window.covers(t, stepT, ask)) {
                if (!passIntervals(list, t, tPrev)) {
                    return Pass::ListEnded;
                }
                sampler.countSkipped(1 + passRun(list, window.provenTo(), stepT, t, tPrev));
                return Pass::Passed;
            }
        }
        return Pass::NotProven;
    };
    if (!inside) {
        if (jumpToHead && first > t) {
            t = first;
        }
        tPrev = t;
        for (;;) {
            const Pass pass = tryPass([&](double ta, double tb) {
                if constexpr (BoundingSampler<Sampler>) {
                    return sampler.fieldBelow(ta, tb);
                }
                return false;
            });
            if (pass == Pass::ListEnded) {
                return false;
            }
            if (pass == Pass::NotProven) {
                double v = 0.0;
                if (!sampler.sampleOutside(t, tPrev, v)) {
                    return false;
                }
                if (v > threshold) {
                    break;
                }
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
        for (;;) {
            const Pass pass = tryPass([&](double ta, double tb) {
                if constexpr (BoundingSampler<Sampler>) {
                    return sampler.fieldAbove(ta, tb);
                }
                return false;
            });
            if (pass == Pass::ListEnded) {
                return false;
            }
            if (pass == Pass::NotProven) {
                bool stillInside = true;
                if (!sampler.sampleInside(t, tPrev, stillInside)) {
                    return false;
                }
                if (!stillInside) {
                    break;
                }
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
