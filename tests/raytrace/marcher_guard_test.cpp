// The march ends for every input: steps that cannot advance, distances where the step is lost in
// rounding, intervals with NaN or infinite ends, infinite starts, and bisections asked for an
// error far below the spacing of doubles at the hit. A field given as a function of t stands in
// for the metaballs, so the number of samples of each kind is known exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <utility>

#include "raytrace/Marcher.h"

using namespace velquin;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A field along the ray that exists only where an interval of the list contains t, as a leaf's
// metaballs do; the walks are the marcher's own.
class LineSampler {
public:
    LineSampler(IntervalCollector& list, std::function<double(double)> field)
        : list_(list), field_(std::move(field)) {}

    double threshold() const { return 0.5; }

    bool sampleOutside(double t, double tPrev, double& v) {
        ++outside;
        bool seen = false;
        if (!walkIntervals(list_, t, tPrev, [&](RayInterval*) {
                seen = true;
                return false;
            })) {
            return false;
        }
        v = seen ? field_(t) : 0.0;
        return true;
    }

    bool sampleInside(double t, double tPrev, bool& inside) {
        ++insideSamples;
        bool seen = false;
        if (!walkIntervals(list_, t, tPrev, [&](RayInterval*) {
                seen = true;
                return false;
            })) {
            return false;
        }
        const double v = seen ? field_(t) : 0.0;
        inside = !(v < threshold());
        return true;
    }

    double sampleRefine(double t) {
        ++refine;
        bool seen = false;
        walkIntervalsKeep(list_, t, [&](RayInterval*) { seen = true; });
        return seen ? field_(t) : 0.0;
    }

    int samples() const { return outside + insideSamples + refine; }

    int outside = 0;
    int insideSamples = 0;
    int refine = 0;

private:
    IntervalCollector& list_;
    std::function<double(double)> field_;
};

void fill(IntervalCollector& list, std::initializer_list<std::pair<double, double>> intervals) {
    for (const auto& iv : intervals) {
        list.add(iv.first, iv.second, nullptr);
    }
    list.finish();
}

std::function<double(double)> above(double crossing) {
    return [crossing](double t) { return t > crossing ? 1.0 : 0.0; };
}
std::function<double(double)> below(double crossing) {
    return [crossing](double t) { return t < crossing ? 1.0 : 0.0; };
}
const std::function<double(double)> kEmpty = [](double) { return 0.0; };
const std::function<double(double)> kFull = [](double) { return 1.0; };

struct MarchRun {
    bool found = false;
    double t = 0.0;
    int outside = 0, inside = 0, refine = 0;
};

MarchRun march(std::initializer_list<std::pair<double, double>> intervals,
               const std::function<double(double)>& field, bool inside, double stepT, double errT,
               double t, bool jumpToHead) {
    IntervalCollector list;
    fill(list, intervals);
    LineSampler sampler(list, field);
    MarchRun run;
    run.t = t;
    run.found = marchIntervals(sampler, list, inside, stepT, errT, run.t, jumpToHead);
    run.outside = sampler.outside;
    run.inside = sampler.insideSamples;
    run.refine = sampler.refine;
    return run;
}

} // namespace

TEST(MarcherGuards, InputsThatCannotBeSteppedOrRefinedEndAtOnce) {
    struct Case {
        double stepT, errT, t;
    };
    const Case cases[] = {
        {0.0, 1e-4, 0.0}, {-1.0, 1e-4, 0.0}, {kNaN, 1e-4, 0.0}, {kInf, 1e-4, 0.0},
        {1.0, kNaN, 0.0}, {1.0, -1e-4, 0.0}, {1.0, 1e-4, kNaN}, {-kInf, 1e-4, 0.0},
    };
    for (const Case& c : cases) {
        for (bool inside : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "stepT " << c.stepT << " errT " << c.errT << " t "
                                              << c.t << " inside " << inside);
            const MarchRun run = march({{0.0, 10.0}}, inside ? below(3.3) : above(3.3), inside,
                                       c.stepT, c.errT, c.t, true);
            EXPECT_FALSE(run.found);
            EXPECT_EQ(run.outside + run.inside + run.refine, 0);
        }
    }
    // An error of exactly 0 is usable: the bisection ends when h underflows (below).
    EXPECT_TRUE(march({{0.0, 10.0}}, above(3.3), false, 1.0, 0.0, 0.0, true).found);
}

// At 1e17 the spacing of doubles is 16, so t + 1 == t.
TEST(MarcherGuards, ADistanceWhereTheStepIsLostEndsWithoutACrossing) {
    const double far = 1e17;
    ASSERT_EQ(far + 1.0, far);
    // Still: jump to the entry, one sample, no step possible.
    MarchRun still = march({{far, far + 1e4}}, kEmpty, false, 1.0, 1e-4, 0.0, true);
    EXPECT_FALSE(still.found);
    EXPECT_EQ(still.outside, 1);
    // Moving: the start, then the jump, then the same.
    MarchRun moving = march({{far, far + 1e4}}, kEmpty, false, 1.0, 1e-4, 0.0, false);
    EXPECT_FALSE(moving.found);
    EXPECT_EQ(moving.outside, 2);
    // From inside, with no jumps: one sample at the start.
    MarchRun inside = march({{0.0, far + 1e4}}, kFull, true, 1.0, 1e-4, far, true);
    EXPECT_FALSE(inside.found);
    EXPECT_EQ(inside.inside, 1);
    // A crossing beyond the lost step is never reached, rather than searched for forever.
    MarchRun beyond = march({{far, far + 1e4}}, above(far + 100.0), false, 1.0, 1e-4, 0.0, true);
    EXPECT_FALSE(beyond.found);
}

// Near 2^40 the spacing u is 2^-12. A step that rounds to a whole spacing advances by u whether
// it is a little above u / 2 or well above u; a stretch of 256 u then takes 257 samples up to the
// exit and two more until the walk has passed it, within the bound of 2 L / stepT + 1.
TEST(MarcherGuards, AStepNearTheSpacingStillAdvancesByAtLeastHalfAStep) {
    const double t0 = std::ldexp(1.0, 40);
    const double u = std::ldexp(1.0, -12);
    ASSERT_EQ(std::nextafter(t0, kInf) - t0, u);
    const double length = 256.0 * u;
    for (double factor : {0.5000001, 1.0, 1.4}) {
        SCOPED_TRACE(factor);
        const double stepT = factor * u;
        MarchRun run = march({{t0, t0 + length}}, kEmpty, false, stepT, 1e-9, t0, true);
        EXPECT_FALSE(run.found);
        EXPECT_EQ(run.outside, 259);
        EXPECT_LE(run.outside, 2.0 * length / stepT + 1.0 + 2.0);
        // From inside (the interval starts a spacing earlier, so that it holds the start): the
        // field ends with the interval, which is the exit, found at the 257th sample.
        MarchRun inside = march({{t0 - u, t0 + length}}, kFull, true, stepT, 1e-9, t0, true);
        EXPECT_TRUE(inside.found);
        EXPECT_EQ(inside.inside, 257);
        EXPECT_GE(inside.t, t0 + length - u);
        EXPECT_LE(inside.t, t0 + length);
    }
    // Exactly half a spacing ties to even: from an even t the step is lost at once, from an odd
    // t it advances once to the even neighbour and is lost there.
    MarchRun even = march({{t0, t0 + length}}, kEmpty, false, u / 2.0, 1e-9, t0, true);
    EXPECT_FALSE(even.found);
    EXPECT_EQ(even.outside, 1);
    MarchRun odd = march({{t0 + u, t0 + length}}, kEmpty, false, u / 2.0, 1e-9, t0 + u, true);
    EXPECT_FALSE(odd.found);
    EXPECT_EQ(odd.outside, 2);
}

// Intervals with NaN or infinite ends are dropped before the march; what remains is marched
// exactly as a list without them.
TEST(MarcherGuards, IntervalsWithNonFiniteEndsAreDropped) {
    const MarchRun clean = march({{2.0, 6.0}}, above(3.3), false, 0.25, 1e-4, 0.0, true);
    ASSERT_TRUE(clean.found);
    const MarchRun hostile = march({{kNaN, 5.0},
                                    {0.0, kInf},
                                    {2.0, 6.0},
                                    {kInf, kInf},
                                    {1.0, kNaN},
                                    {-kInf, 4.0},
                                    {kNaN, kNaN}},
                                   above(3.3), false, 0.25, 1e-4, 0.0, true);
    ASSERT_TRUE(hostile.found);
    EXPECT_EQ(hostile.t, clean.t);
    EXPECT_EQ(hostile.outside, clean.outside);
    EXPECT_EQ(hostile.refine, clean.refine);

    const MarchRun cleanInside = march({{0.0, 4.0}}, below(2.5), true, 0.25, 1e-4, 0.0, true);
    ASSERT_TRUE(cleanInside.found);
    const MarchRun hostileInside =
        march({{kNaN, kNaN}, {0.0, 4.0}, {3.0, kInf}}, below(2.5), true, 0.25, 1e-4, 0.0, true);
    ASSERT_TRUE(hostileInside.found);
    EXPECT_EQ(hostileInside.t, cleanInside.t);
    EXPECT_EQ(hostileInside.inside, cleanInside.inside);

    // Nothing finite left: no march at all. Without the guard an exit at infinity would keep an
    // inside march stepping until the step is lost (some 2^53 samples).
    for (bool inside : {false, true}) {
        const MarchRun none = march({{0.0, kInf}, {kNaN, 1.0}}, inside ? kFull : kEmpty, inside,
                                    1.0, 1e-4, 0.0, true);
        EXPECT_FALSE(none.found);
        EXPECT_EQ(none.outside + none.inside + none.refine, 0);
    }
}

TEST(MarcherGuards, InfiniteStartsPassOrReachTheIntervals) {
    // +inf: the first walk passes every interval.
    for (bool inside : {false, true}) {
        const MarchRun run = march({{2.0, 6.0}, {5.0, 9.0}}, inside ? kFull : above(3.3), inside,
                                   0.25, 1e-4, kInf, true);
        EXPECT_FALSE(run.found);
        EXPECT_EQ(run.outside + run.inside, 1);
    }
    // -inf from outside reaches the head interval by the jump, as a start before it does.
    const MarchRun fromZero = march({{2.0, 6.0}}, above(3.3), false, 0.25, 1e-4, 0.0, true);
    const MarchRun still = march({{2.0, 6.0}}, above(3.3), false, 0.25, 1e-4, -kInf, true);
    const MarchRun moving = march({{2.0, 6.0}}, above(3.3), false, 0.25, 1e-4, -kInf, false);
    ASSERT_TRUE(still.found);
    ASSERT_TRUE(moving.found);
    EXPECT_EQ(still.t, fromZero.t);
    EXPECT_EQ(moving.t, fromZero.t);
    EXPECT_EQ(moving.outside, still.outside + 1);
    // -inf from inside: the first sample sees no interval, so the exit is reported at -inf
    // itself, a distance that no ray's range accepts; no step is taken.
    const MarchRun inside = march({{2.0, 6.0}}, kFull, true, 0.25, 1e-4, -kInf, true);
    EXPECT_TRUE(!inside.found || inside.t == -kInf);
    EXPECT_EQ(inside.inside, 1);
}

// The bisection's count depends on h alone: h runs stepT / 2, stepT / 4, ... while above errT.
TEST(MarcherRefinement, SampleCountDependsOnStepAndErrorOnly) {
    // Step 1 and error 0.0001: 13 samples (h from 0.5 down to 0.5^13).
    const MarchRun unit = march({{0.0, 10.0}}, above(3.3), false, 1.0, 1e-4, 0.0, true);
    ASSERT_TRUE(unit.found);
    EXPECT_EQ(unit.refine, 13);
    EXPECT_NEAR(unit.t, 3.3, 1e-4);

    // At 1e16 the spacing of doubles is 2, far above errT: once h is below the spacing t - h
    // rounds back to t, and the loop still ends by h alone: 32 * 2^-21 > 1e-5 > 32 * 2^-22.
    const double far = 1e16;
    ASSERT_EQ(std::nextafter(far, kInf) - far, 2.0);
    const double crossing = far + 1000.0;
    const MarchRun distant =
        march({{far, far + 4096.0}}, above(crossing), false, 64.0, 1e-5, 0.0, true);
    ASSERT_TRUE(distant.found);
    EXPECT_EQ(distant.refine, 22);
    EXPECT_GE(distant.t, crossing - 2.0);
    EXPECT_LE(distant.t, crossing + 2.0);

    // An error of 0: h halves from 2^5 through the smallest subnormal 2^-1074, whose half rounds
    // to 0, so 1080 samples.
    const MarchRun zero = march({{0.0, 100.0}}, above(33.3), false, 64.0, 0.0, 0.0, true);
    ASSERT_TRUE(zero.found);
    EXPECT_EQ(zero.refine, 1080);
    EXPECT_NEAR(zero.t, 33.3, 1e-12);
}
