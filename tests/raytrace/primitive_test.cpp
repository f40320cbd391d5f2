// The still and moving primitives: the march from outside and from inside, the acceptance
// rules, texture modulation, motion segments, hit records, and concurrent use.
#include <gtest/gtest.h>

#include <bit>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "raytrace/HitRecordTable.h"
#include "raytrace/MovingPrimitive.h"
#include "raytrace/StaticPrimitive.h"

using namespace velquin;

namespace {

// A map of one value everywhere, evaluated through the point-only context.
class ConstantMap : public Texmap {
public:
    explicit ConstantMap(float v) : value(v) {}
    float EvalMono(ShadeContext&) override { return value; }
    AColor EvalColor(ShadeContext&) override { return AColor(value, value, value, 1.0f); }
    float value;
};

struct Cloud {
    std::vector<float> positions;
    std::vector<double> sizes;
    std::vector<float> colors;
};

Cloud makeCloud(int n, float spread, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-spread, spread);
    std::uniform_real_distribution<float> c(0.0f, 1.0f);
    std::uniform_real_distribution<double> s(6.0, 14.0);
    Cloud cloud;
    for (int i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) {
            cloud.positions.push_back(u(rng));
            cloud.colors.push_back(c(rng));
        }
        cloud.sizes.push_back(s(rng));
    }
    return cloud;
}

template <class T> T* copyArray(const std::vector<T>& v) {
    T* out = new T[v.size() > 0 ? v.size() : 1];
    std::copy(v.begin(), v.end(), out);
    return out;
}

MetaballRenderParams defaultParams() {
    MetaballRenderParams p;
    p.radius = 10.0f;
    p.threshold = 0.5f;
    p.step = 0.5f;
    p.error = 0.0001f;
    p.colourKernel = -2;
    return p;
}

void setUpStatic(VelquinMetaballPrimitiveStatic& prim, const Cloud& cloud,
                 const MetaballRenderParams& params, bool sizes, bool colors) {
    CompiledFrame frame;
    frame.params = params;
    frame.count = static_cast<std::int32_t>(cloud.positions.size() / 3);
    frame.positions = copyArray(cloud.positions);
    frame.sizes = sizes ? copyArray(cloud.sizes) : nullptr;
    frame.colors = colors ? copyArray(cloud.colors) : nullptr;
    ASSERT_TRUE(prim.setup(frame));
}

// One segment, nothing moving: the same metaballs as a still frame.
void setUpStill(VelquinMetaballPrimitiveMoving& prim, const Cloud& cloud,
                MetaballRenderParams params, bool sizes) {
    const std::int32_t n = static_cast<std::int32_t>(cloud.positions.size() / 3);
    params.segmentCount = 1;
    CompiledMovingFrame frame;
    frame.params = params;
    frame.segmentCounts = new std::int32_t[1]{n};
    frame.segmentPositions =
        new float* [2] { copyArray(cloud.positions), copyArray(std::vector<float>(3 * n, 0.0f)) };
    frame.segmentSizes = new double* [2] { nullptr, nullptr };
    if (sizes) {
        frame.segmentSizes[0] = copyArray(cloud.sizes);
        frame.segmentSizes[1] = copyArray(std::vector<double>(n, 0.0));
    }
    ASSERT_TRUE(prim.setup(frame));
}

SurfaceRay rayFrom(double ox, double oy, double oz, float dx, float dy, float dz) {
    SurfaceRay ray;
    ray.origin[0] = ox;
    ray.origin[1] = oy;
    ray.origin[2] = oz;
    ray.direction[0] = dx;
    ray.direction[1] = dy;
    ray.direction[2] = dz;
    ray.tMin = 0.0;
    ray.tMax = 1e30;
    ray.nearest = 1e30;
    return ray;
}

Cloud singleBall() {
    Cloud cloud;
    cloud.positions = {0.0f, 0.0f, 0.0f};
    cloud.sizes = {10.0};
    cloud.colors = {1.0f, 0.5f, 0.25f};
    return cloud;
}

} // namespace

TEST(HitRecordTable, GrowsToTheNextMultipleOfTheStepAndResetsKeys) {
    HitRecordTable table;
    ASSERT_TRUE(table.extend(1));
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.capacity(), 30);
    ASSERT_TRUE(table.extend(30)); // within the capacity: only the count changes
    EXPECT_EQ(table.capacity(), 30);
    table.at(29).key = 7;
    ASSERT_TRUE(table.extend(60));
    EXPECT_EQ(table.capacity(), 90); // a full step more when n is a multiple
    EXPECT_EQ(table.at(29).key, 7);  // entries are copied over
    EXPECT_EQ(table.at(59).key, 0);
    ASSERT_TRUE(table.extend(91));
    EXPECT_EQ(table.capacity(), 120);
    table.reset();
    EXPECT_EQ(table.count(), 91);
    EXPECT_EQ(table.at(29).key, 0);
}

TEST(HitRecordTable, StoreAndFindByThreadSlotAndTag) {
    HitRecordTable rows[2];
    HitRecordTable* tables[2] = {&rows[0], &rows[1]};
    const float data[6] = {1, 2, 3, 4, 5, 6};
    storeHitRecord(tables, 2, 1, 4, 99, data);
    EXPECT_EQ(rows[1].count(), 5);
    EXPECT_EQ(rows[0].count(), 0);
    const HitRecord* r = findHitRecord(tables, 2, 1, 4, 99);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::memcmp(r->data, data, sizeof data), 0);
    EXPECT_EQ(findHitRecord(tables, 2, 1, 4, 98), nullptr); // another ray's tag: stale
    EXPECT_EQ(findHitRecord(tables, 2, 1, 5, 99), nullptr); // beyond the row
    EXPECT_EQ(findHitRecord(tables, 2, 0, 4, 99), nullptr); // another thread's row
    // Threads outside the rows and missing tables store nothing and find nothing.
    storeHitRecord(tables, 2, 2, 0, 1, data);
    storeHitRecord(nullptr, 0, 0, 0, 1, data);
    EXPECT_EQ(findHitRecord(tables, 2, 2, 0, 1), nullptr);
    EXPECT_EQ(findHitRecord(nullptr, 0, 0, 0, 1), nullptr);
}

TEST(StaticPrimitive, EmptyFrameHasAnInvertedBoxAndNoHits) {
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, Cloud{}, defaultParams(), false, false);
    EXPECT_EQ(prim.bbox.pmin.x, 1e20f);
    EXPECT_EQ(prim.bbox.pmax.x, -1e20f);
    SurfaceHit hit;
    EXPECT_FALSE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 1), hit));
}

// The box handed to the renderer: every centre grown by its radius in single precision, the
// global one or each metaball's own, as summed here in index order.
TEST(StaticPrimitive, BoxGrowsEveryCentreByItsRadius) {
    Cloud cloud = makeCloud(70000, 300.0f, 17);
    for (int i = 0; i < 40; ++i) // ties at the edges of the box
        cloud.positions[3 * static_cast<std::size_t>(i)] = i % 2 == 0 ? -306.0f : 306.0f;
    for (bool sizes : {false, true}) {
        float want[6] = {1e20f, 1e20f, 1e20f, -1e20f, -1e20f, -1e20f};
        for (std::size_t i = 0; i < cloud.sizes.size(); ++i) {
            const float r = sizes ? static_cast<float>(cloud.sizes[i]) : 10.0f;
            for (int a = 0; a < 3; ++a) {
                const float lo = cloud.positions[3 * i + static_cast<std::size_t>(a)] - r;
                const float hi = cloud.positions[3 * i + static_cast<std::size_t>(a)] + r;
                want[a] = lo < want[a] ? lo : want[a];
                want[a + 3] = hi > want[a + 3] ? hi : want[a + 3];
            }
        }
        for (int threads : {1, 2}) {
            VelquinMetaballPrimitiveStatic prim;
            CompiledFrame frame;
            frame.params = defaultParams();
            frame.count = static_cast<std::int32_t>(cloud.sizes.size());
            frame.positions = copyArray(cloud.positions);
            frame.sizes = sizes ? copyArray(cloud.sizes) : nullptr;
            frame.threads = threads;
            ASSERT_TRUE(prim.setup(frame));
            for (int k = 0; k < 6; ++k)
                EXPECT_EQ(std::bit_cast<std::uint32_t>(prim.bbox[k]),
                          std::bit_cast<std::uint32_t>(want[k]))
                    << "bound " << k << (sizes ? ", sizes" : "") << ", threads " << threads;
        }
    }
}

TEST(StaticPrimitive, HitsASingleBallFromOutsideAndReportsTheExitFromInside) {
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, singleBall(), defaultParams(), false, false);
    // Power of three: t^3 = 0.5 at distance 10 * sqrt(1 - cbrt(0.5)) = 4.6619...
    const double expected = 10.0 * std::sqrt(1.0 - std::cbrt(0.5));
    SurfaceHit hit;
    ASSERT_TRUE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 1), hit));
    EXPECT_NEAR(hit.t, 50.0 - expected, 2e-4);
    float n[3];
    const float fallback[3] = {0, 0, -1};
    prim.normalAt(hit.point, fallback, n);
    EXPECT_LT(n[2], -0.999f); // points out of the blob, back towards the ray's origin

    SurfaceHit exitHit;
    ASSERT_TRUE(prim.intersectSurface(rayFrom(0, 0, 0, 0, 0, 1), exitHit));
    EXPECT_NEAR(exitHit.t, expected, 2e-4);
}

TEST(StaticPrimitive, AcceptanceBoundsAndNearestHit) {
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, singleBall(), defaultParams(), false, false);
    SurfaceRay ray = rayFrom(0, 0, -50, 0, 0, 1);
    SurfaceHit hit;
    ASSERT_TRUE(prim.intersectSurface(ray, hit));
    SurfaceRay atNearest = ray;
    atNearest.nearest = hit.t; // a crossing exactly at the nearest hit is accepted
    SurfaceHit again;
    ASSERT_TRUE(prim.intersectSurface(atNearest, again));
    EXPECT_EQ(again.t, hit.t);
    SurfaceRay beyondNearest = ray;
    beyondNearest.nearest = std::nextafter(hit.t, 0.0);
    EXPECT_FALSE(prim.intersectSurface(beyondNearest, again));
    SurfaceRay atMax = ray;
    atMax.tMax = hit.t; // exactly at tmax is rejected
    EXPECT_FALSE(prim.intersectSurface(atMax, again));
}

TEST(StaticPrimitive, ScalingTheDirectionKeepsTheHitPoint) {
    const Cloud cloud = makeCloud(200, 40.0f, 7);
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, cloud, defaultParams(), false, false);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int hits = 0;
    for (int i = 0; i < 50; ++i) {
        const float d[3] = {u(rng), u(rng), u(rng)};
        SurfaceRay ray = rayFrom(-d[0] * 120.0, -d[1] * 120.0, -d[2] * 120.0, d[0], d[1], d[2]);
        SurfaceHit a, b, c;
        const bool ha = prim.intersectSurface(ray, a);
        for (float& x : ray.direction) {
            x *= 4.0f;
        }
        const bool hb = prim.intersectSurface(ray, b);
        for (float& x : ray.direction) {
            x *= 0.125f;
        }
        const bool hc = prim.intersectSurface(ray, c);
        ASSERT_EQ(ha, hb);
        ASSERT_EQ(ha, hc);
        if (ha) {
            ++hits;
            EXPECT_EQ(std::memcmp(a.point, b.point, sizeof a.point), 0);
            EXPECT_EQ(std::memcmp(a.point, c.point, sizeof a.point), 0);
            EXPECT_EQ(a.t, b.t * 4.0);
        }
    }
    EXPECT_GT(hits, 10);
}

TEST(StaticPrimitive, IntervalsBehindTheStartGiveNoHit) {
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, singleBall(), defaultParams(), false, false);
    SurfaceHit hit;
    EXPECT_FALSE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, -1), hit));
    // Zero-length and non-finite directions cannot be marched.
    EXPECT_FALSE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 0), hit));
    EXPECT_FALSE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, INFINITY), hit));
}

TEST(StaticPrimitive, TextureBelowThresholdEverywhereRemovesTheSurface) {
    ConstantMap zero(0.0f);
    MetaballRenderParams params = defaultParams();
    params.texmap = &zero;
    params.textureStrength = 1.0f;
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, singleBall(), params, false, false);
    SurfaceHit hit;
    EXPECT_FALSE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 1), hit));

    // Subtract a map of 1 at strength 0.4: the field 1 at the centre falls to 0.6, the blob
    // shrinks to where t^3 = 0.9.
    ConstantMap one(1.0f);
    params.texmap = &one;
    params.textureType = 1;
    params.textureStrength = 0.4f;
    setUpStatic(prim, singleBall(), params, false, false);
    ASSERT_TRUE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 1), hit));
    const double shrunk = 10.0 * std::sqrt(1.0 - std::cbrt(0.5 + 0.4));
    EXPECT_NEAR(hit.t, 50.0 - shrunk, 2e-4);
}

TEST(StaticPrimitive, ColourIsTheWeightedMeanAndBlackWithoutWeight) {
    MetaballRenderParams params = defaultParams();
    params.colourKernel = 0;
    Cloud cloud = singleBall();
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, cloud, params, false, true);
    SurfaceHit hit;
    ASSERT_TRUE(prim.intersectSurface(rayFrom(0, 0, -50, 0, 0, 1), hit));
    EXPECT_FLOAT_EQ(hit.color[0], 1.0f);
    EXPECT_FLOAT_EQ(hit.color[1], 0.5f);
    EXPECT_FLOAT_EQ(hit.color[2], 0.25f);
    float c[3] = {9, 9, 9};
    const float far[3] = {100.0f, 0.0f, 0.0f};
    prim.colorAt(far, c);
    EXPECT_EQ(c[0], 0.0f);
    EXPECT_EQ(c[1], 0.0f);
    EXPECT_EQ(c[2], 0.0f);
}

TEST(MovingPrimitive, SegmentChoiceAndLocalTime) {
    VelquinMetaballPrimitiveMoving prim;
    MetaballRenderParams params = defaultParams();
    params.segmentCount = 3;
    CompiledMovingFrame frame;
    frame.params = params;
    frame.segmentCounts = new std::int32_t[3]{0, 0, 0};
    frame.segmentPositions = new float* [6] {
        new float[1], new float[1], new float[1], new float[1], new float[1], new float[1]
    };
    frame.segmentSizes = new double* [6] {};
    ASSERT_TRUE(prim.setup(frame));
    std::int32_t seg = -1;
    float local = -1.0f;
    prim.segmentOf(0.0f, seg, local);
    EXPECT_EQ(seg, 0);
    EXPECT_EQ(local, 0.0f);
    prim.segmentOf(1.0f, seg, local);
    EXPECT_EQ(seg, 2);
    EXPECT_EQ(local, (1.0f - 2.0f / 3.0f) / (1.0f / 3.0f)); // the formula, not exactly 1
    prim.segmentOf(-0.25f, seg, local);                     // before the shutter: the start
    EXPECT_EQ(seg, 0);
    EXPECT_EQ(local, 0.0f);
    prim.segmentOf(7.0f, seg, local);
    EXPECT_EQ(seg, 2);
    // The second box is all zeros; the first stays empty without metaballs.
    for (int i = 8; i < 14; ++i) {
        EXPECT_EQ(prim.box.coord(i - 2), 0.0f);
    }
}

TEST(MovingPrimitive, WithoutMotionFindsTheStillCrossingsToTheBit) {
    const Cloud cloud = makeCloud(300, 35.0f, 11);
    for (int average = 0; average < 2; ++average) {
        for (int sized = 0; sized < 2; ++sized) {
            MetaballRenderParams params = defaultParams();
            params.useAverage = static_cast<std::uint8_t>(average);
            params.threshold = average ? 1.0f : 0.5f;
            VelquinMetaballPrimitiveStatic still;
            setUpStatic(still, cloud, params, sized != 0, false);
            VelquinMetaballPrimitiveMoving moving;
            setUpStill(moving, cloud, params, sized != 0);
            std::mt19937 rng(5);
            std::uniform_real_distribution<float> u(-1.0f, 1.0f);
            int hits = 0;
            for (int i = 0; i < 60; ++i) {
                const float d[3] = {u(rng), u(rng), u(rng)};
                const double o[3] = {u(rng) * 20.0, u(rng) * 20.0, u(rng) * 20.0};
                SurfaceRay ray = rayFrom(o[0] - d[0] * 100.0, o[1] - d[1] * 100.0,
                                         o[2] - d[2] * 100.0, d[0], d[1], d[2]);
                ray.time = 0.5f;
                SurfaceHit a, b;
                const bool ha = still.intersectSurface(ray, a);
                const bool hb = moving.intersectSurface(ray, b);
                ASSERT_EQ(ha, hb) << "ray " << i << " average " << average << " sized " << sized;
                if (ha) {
                    ++hits;
                    EXPECT_EQ(a.t, b.t) << "ray " << i;
                }
            }
            EXPECT_GT(hits, 10);
        }
    }
}

TEST(StaticPrimitive, ThreadsIntersectingAtOnceGetTheSameHits) {
    const Cloud cloud = makeCloud(2000, 80.0f, 21);
    VelquinMetaballPrimitiveStatic prim;
    setUpStatic(prim, cloud, defaultParams(), true, false);
    std::vector<SurfaceRay> rays;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 400; ++i) {
        rays.push_back(
            rayFrom(u(rng) * 60.0, u(rng) * 60.0, -200.0, u(rng) * 0.2f, u(rng) * 0.2f, 1.0f));
    }
    auto traceAll = [&](std::vector<double>& out) {
        out.clear();
        for (const SurfaceRay& ray : rays) {
            SurfaceHit hit;
            out.push_back(prim.intersectSurface(ray, hit) ? hit.t : -1.0);
        }
    };
    std::vector<double> reference;
    traceAll(reference);
    std::vector<std::vector<double>> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) {
        threads.emplace_back([&] { traceAll(r); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& r : results) {
        EXPECT_EQ(r, reference);
    }
}
