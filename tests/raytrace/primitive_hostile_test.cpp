// Rays the renderer should never send but might: huge or tiny directions, origins far out or not
// finite, ray ranges that are NaN or infinite, and (moving frames) times outside the shutter.
// Each ray must come back, hit or not, after a number of samples bounded by what its intervals
// and the step allow; the tracing counters count the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "raytrace/HitRecordTable.h"
#include "raytrace/MovingPrimitive.h"
#include "raytrace/StaticPrimitive.h"

using namespace velquin;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T> T* copyArray(const std::vector<T>& v) {
    T* out = new T[v.empty() ? 1 : v.size()];
    std::copy(v.begin(), v.end(), out);
    return out;
}

MetaballRenderParams params() {
    MetaballRenderParams p;
    p.radius = 10.0f;
    p.threshold = 0.5f;
    p.step = 0.5f;
    p.error = 0.0001f;
    p.colourKernel = -2;
    return p;
}

// Two balls of radius 10 at x = -8 and x = +8.
const std::vector<float> kPair = {-8.0f, 0.0f, 0.0f, 8.0f, 0.0f, 0.0f};

void setUp(VelquinMetaballPrimitiveStatic& prim) {
    CompiledFrame frame;
    frame.params = params();
    frame.count = 2;
    frame.positions = copyArray(kPair);
    ASSERT_TRUE(prim.setup(frame));
}

// n segments; the pair moves +4 in x over every segment (or stands still), with the global radius
// or, given a growth, sizes of 10 that grow by that much over every segment.
void setUp(VelquinMetaballPrimitiveMoving& prim, std::int32_t n, float speed = 4.0f,
           double growth = kNaN) {
    CompiledMovingFrame frame;
    frame.params = params();
    frame.params.segmentCount = n;
    frame.segmentCounts = new std::int32_t[n];
    frame.segmentPositions = new float*[2 * n];
    frame.segmentSizes = new double*[2 * n];
    for (std::int32_t s = 0; s < n; ++s) {
        frame.segmentCounts[s] = 2;
        std::vector<float> start = kPair;
        start[0] += speed * static_cast<float>(s);
        start[3] += speed * static_cast<float>(s);
        frame.segmentPositions[2 * s] = copyArray(start);
        frame.segmentPositions[2 * s + 1] = copyArray(std::vector<float>{speed, 0, 0, speed, 0, 0});
        const bool sized = !std::isnan(growth);
        frame.segmentSizes[2 * s] =
            sized ? copyArray(std::vector<double>{10.0 + growth * s, 10.0 + growth * s}) : nullptr;
        frame.segmentSizes[2 * s + 1] =
            sized ? copyArray(std::vector<double>{growth, growth}) : nullptr;
    }
    ASSERT_TRUE(prim.setup(frame));
}

SurfaceRay ray(double ox, double oy, double oz, float dx, float dy, float dz) {
    SurfaceRay r;
    r.origin[0] = ox;
    r.origin[1] = oy;
    r.origin[2] = oz;
    r.direction[0] = dx;
    r.direction[1] = dy;
    r.direction[2] = dz;
    r.tMin = 0.0;
    r.tMax = 1e30;
    r.nearest = 1e30;
    r.time = 0.5f;
    return r;
}

struct Traced {
    bool hit = false;
    SurfaceHit result;
    std::int64_t samples = 0;
};

template <class Prim> Traced trace(const Prim& prim, SurfaceRay r) {
    TraceCounters counters;
    r.counters = &counters;
    Traced out;
    out.hit = prim.intersectSurface(r, out.result);
    out.samples = counters.samples;
    return out;
}

// The pair spans x in [-18, 18]; the still march with step 0.5 needs well under 100 samples
// across it, refinement included.
constexpr std::int64_t kPairSamples = 100;

} // namespace

TEST(HostileRays, HugeAndTinyDirections) {
    VelquinMetaballPrimitiveStatic prim;
    setUp(prim);
    const Traced unit = trace(prim, ray(8, 0, -50, 0, 0, 1));
    ASSERT_TRUE(unit.hit);
    EXPECT_LE(unit.samples, kPairSamples);

    // Components whose squares overflow the single-precision length: no step length exists.
    for (float big : {2e19f, 1e20f, 3e38f}) {
        const Traced t = trace(prim, ray(8, 0, -50, 0, 0, big));
        EXPECT_FALSE(t.hit);
        EXPECT_EQ(t.samples, 0);
    }
    // Long but measurable: the step and error are still lengths in scene units, so the surface
    // and the number of samples are those of the unit direction, up to the rounding of t.
    const Traced longDir = trace(prim, ray(8, 0, -50, 0, 0, 1e15f));
    ASSERT_TRUE(longDir.hit);
    EXPECT_NEAR(longDir.result.point[2], unit.result.point[2], 1e-3f);
    EXPECT_LE(longDir.samples, kPairSamples);

    // So short that the pair lies beyond the hierarchy's far end (1e18 direction lengths): no
    // interval, no sample. Shorter still, the squared length underflows to 0.
    for (float tiny : {1e-20f, 1e-30f}) {
        const Traced t = trace(prim, ray(8, 0, -50, 0, 0, tiny));
        EXPECT_FALSE(t.hit);
        EXPECT_EQ(t.samples, 0);
    }
}

TEST(HostileRays, FarOriginsEndAfterFewSamples) {
    VelquinMetaballPrimitiveStatic prim;
    setUp(prim);
    // At 1e17 the step of 0.5 is lost in the spacing of t (16): the march stops at the entry.
    const Traced lost = trace(prim, ray(8, 0, -1e17, 0, 0, 1));
    EXPECT_FALSE(lost.hit);
    EXPECT_LE(lost.samples, 2);
    // At 1e12 t still advances, but the sample points (single precision, spacing 65536) cannot
    // resolve the pair: whatever the answer, the march ends within the pair's interval.
    const Traced coarse = trace(prim, ray(8, 0, -1e12, 0, 0, 1));
    EXPECT_LE(coarse.samples, 2 * kPairSamples);
    // Beyond single precision altogether, and infinite: the slabs meet no box.
    for (double far : {1e39, 1e300, kInf, -kInf}) {
        const Traced t = trace(prim, ray(0, 0, far, 0, 0, -1));
        EXPECT_FALSE(t.hit);
        EXPECT_EQ(t.samples, 0);
    }
}

TEST(HostileRays, NonFiniteRangesNeverHit) {
    VelquinMetaballPrimitiveStatic prim;
    setUp(prim);
    const Traced plain = trace(prim, ray(8, 0, -50, 0, 0, 1));
    ASSERT_TRUE(plain.hit);

    SurfaceRay nanMin = ray(8, 0, -50, 0, 0, 1);
    nanMin.tMin = kNaN;
    EXPECT_FALSE(trace(prim, nanMin).hit);
    SurfaceRay nanMax = ray(8, 0, -50, 0, 0, 1);
    nanMax.tMax = kNaN;
    EXPECT_FALSE(trace(prim, nanMax).hit);
    SurfaceRay nanNearest = ray(8, 0, -50, 0, 0, 1);
    nanNearest.nearest = kNaN;
    EXPECT_FALSE(trace(prim, nanNearest).hit);
    SurfaceRay infMin = ray(8, 0, -50, 0, 0, 1);
    infMin.tMin = kInf;
    const Traced pastEverything = trace(prim, infMin);
    EXPECT_FALSE(pastEverything.hit);
    EXPECT_LE(pastEverything.samples, 1);

    // A range open towards -inf starts the still march at the first box, as a range from 0.
    SurfaceRay open = ray(8, 0, -50, 0, 0, 1);
    open.tMin = -kInf;
    const Traced fromMinusInf = trace(prim, open);
    ASSERT_TRUE(fromMinusInf.hit);
    EXPECT_EQ(fromMinusInf.result.t, plain.result.t);
}

TEST(HostileRays, MovingFramesTakeTimesOutsideTheShutter) {
    VelquinMetaballPrimitiveMoving prim;
    setUp(prim, 3);
    SurfaceRay atZero = ray(8, 0, -50, 0, 0, 1);
    atZero.time = 0.0f;
    const Traced start = trace(prim, atZero);
    ASSERT_TRUE(start.hit);
    // Before the shutter (and NaN): the start of the first segment.
    for (float time : {-1.0f, -1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        SCOPED_TRACE(time);
        SurfaceRay r = atZero;
        r.time = time;
        const Traced t = trace(prim, r);
        ASSERT_TRUE(t.hit);
        EXPECT_EQ(t.result.t, start.result.t);
    }
    // At and after its end: the last segment, carried on linearly; the pair has moved on.
    for (float time : {1.0f, 1.5f, 1e30f}) {
        SCOPED_TRACE(time);
        SurfaceRay r = atZero;
        r.time = time;
        const Traced t = trace(prim, r);
        EXPECT_LE(t.samples, kPairSamples);
    }
    // Huge directions and far origins as in the still frame.
    EXPECT_FALSE(trace(prim, ray(8, 0, -50, 0, 0, 1e20f)).hit);
    const Traced lost = trace(prim, ray(8, 0, -1e17, 0, 0, 1));
    EXPECT_FALSE(lost.hit);
    EXPECT_LE(lost.samples, 3);
}

// Rays that once marched some 2^53 samples, because every leaf became an interval from 0 to the
// far end of the hierarchy (1e18): a slab comparison with NaN is false, so an axis whose face
// distances are NaN bounds nothing. A NaN origin does that on every axis, and so does a box that
// does not move, taken to an infinite time (0 * inf); a time far beyond the shutter's end carried
// growing metaballs on to sizes that hold every ray inside.
TEST(HostileRays, NanOriginHasNoHit) {
    VelquinMetaballPrimitiveStatic still;
    setUp(still);
    const Traced s = trace(still, ray(kNaN, kNaN, kNaN, 0, 0, 1));
    EXPECT_FALSE(s.hit);
    EXPECT_LE(s.samples, 1);
    VelquinMetaballPrimitiveMoving moving;
    setUp(moving, 3);
    const Traced m = trace(moving, ray(kNaN, kNaN, kNaN, 0, 0, 1));
    EXPECT_FALSE(m.hit);
    EXPECT_LE(m.samples, 1);
}

TEST(HostileRays, InfiniteTimeEndsQuickly) {
    VelquinMetaballPrimitiveMoving standing;
    setUp(standing, 3, 0.0f);
    SurfaceRay r = ray(8, 0, -50, 0, 0, 1);
    r.time = std::numeric_limits<float>::infinity();
    EXPECT_LE(trace(standing, r).samples, kPairSamples);
}

TEST(HostileRays, TimeFarBeyondTheShutterEndsQuickly) {
    VelquinMetaballPrimitiveMoving growing;
    setUp(growing, 3, 0.0f, 1.0);
    SurfaceRay r = ray(8, 0, -50, 0, 0, 1);
    r.time = 1e30f;
    EXPECT_LE(trace(growing, r).samples, kPairSamples);
}
