// The still march passes samples that its bounds show cannot cross and tests only the metaballs a
// ray can reach. Whatever it passes, every hit must be the one the plain march finds, to the bit:
// the plain march runs when the kernel is not one of the seven compiled ones, so each case here
// is traced twice, once with the kernel and once with a wrapper of the same formula. The point
// queries (start value, normal) take the same two paths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "raytrace/HitRecordTable.h"
#include "raytrace/MovingPrimitive.h"
#include "raytrace/StaticPrimitive.h"

using namespace velquin;

namespace {

// The same formulas behind other addresses: the primitive then takes its plain march.
double plainTwo(double r2, double d2) {
    return kernels::powerOfTwo(r2, d2);
}
double plainThree(double r2, double d2) {
    return kernels::powerOfThree(r2, d2);
}
double plainFour(double r2, double d2) {
    return kernels::powerOfFour(r2, d2);
}
double plainFive(double r2, double d2) {
    return kernels::powerOfFive(r2, d2);
}
double plainHermiteTwo(double r2, double d2) {
    return kernels::hermitePowerOfTwo(r2, d2);
}
double plainHermiteFour(double r2, double d2) {
    return kernels::hermitePowerOfFour(r2, d2);
}
double plainWyvill(double r2, double d2) {
    return kernels::wyvill(r2, d2);
}
const FalloffKernel kPlain[7] = {plainTwo,        plainThree,       plainFour,  plainFive,
                                 plainHermiteTwo, plainHermiteFour, plainWyvill};

struct Scene {
    std::vector<float> positions;
    std::vector<double> sizes; // empty: the global radius
    MetaballRenderParams params;
};

void setUp(VelquinMetaballPrimitiveStatic& prim, const Scene& s) {
    CompiledFrame frame;
    frame.params = s.params;
    frame.count = static_cast<std::int32_t>(s.positions.size() / 3);
    frame.positions = new float[s.positions.size() + 1];
    std::copy(s.positions.begin(), s.positions.end(), frame.positions);
    if (!s.sizes.empty()) {
        frame.sizes = new double[s.sizes.size()];
        std::copy(s.sizes.begin(), s.sizes.end(), frame.sizes);
    }
    ASSERT_TRUE(prim.setup(frame));
}

struct Traced {
    bool hit;
    SurfaceHit at;
};

Traced trace(const VelquinMetaballPrimitiveStatic& prim, const SurfaceRay& ray) {
    Traced r{};
    r.hit = prim.intersectSurface(ray, r.at);
    return r;
}

// Traces every ray with the compiled kernel and with the plain march, and expects the same hit
// and the same bits. Returns the samples the fast march passed.
std::int64_t expectSameAsPlain(const Scene& scene, const std::vector<SurfaceRay>& rays) {
    VelquinMetaballPrimitiveStatic fast;
    VelquinMetaballPrimitiveStatic plain;
    setUp(fast, scene);
    setUp(plain, scene);
    plain.fieldKernel = kPlain[scene.params.fieldFunction];
    TraceCounters counters;
    int hits = 0;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        SurfaceRay ray = rays[i];
        ray.counters = &counters;
        const Traced a = trace(fast, ray);
        const Traced b = trace(plain, rays[i]);
        SCOPED_TRACE(::testing::Message()
                     << "ray " << i << " kernel " << scene.params.fieldFunction);
        EXPECT_EQ(a.hit, b.hit);
        if (a.hit && b.hit) {
            ++hits;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(a.at.t), std::bit_cast<std::uint64_t>(b.at.t));
            // The start value and the normal read the laid-out leaves too.
            EXPECT_EQ(std::bit_cast<std::uint64_t>(fast.valueAt(a.at.point)),
                      std::bit_cast<std::uint64_t>(plain.valueAt(a.at.point)));
            const float up[3] = {0.0f, 0.0f, 1.0f};
            float na[3], nb[3];
            fast.normalAt(a.at.point, up, na);
            plain.normalAt(a.at.point, up, nb);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(std::bit_cast<std::uint32_t>(a.at.point[k]),
                          std::bit_cast<std::uint32_t>(b.at.point[k]));
                EXPECT_EQ(std::bit_cast<std::uint32_t>(na[k]), std::bit_cast<std::uint32_t>(nb[k]));
            }
        }
    }
    EXPECT_GT(hits, 0);
    return counters.skipped;
}

SurfaceRay rayFrom(const double o[3], const double target[3], double tMin = 0.0) {
    SurfaceRay r;
    for (int a = 0; a < 3; ++a) {
        r.origin[a] = o[a];
        r.direction[a] = static_cast<float>(target[a] - o[a]) / 100.0f;
    }
    r.tMin = tMin;
    return r;
}

MetaballRenderParams paramsWith(int kernel, float threshold, float step) {
    MetaballRenderParams p;
    p.radius = 10.0f;
    p.threshold = threshold;
    p.step = step;
    p.error = 0.0001f;
    p.fieldFunction = kernel;
    p.colourKernel = -2;
    return p;
}

// Rays from a sphere of directions round the cloud towards random points in it, and rays from
// points inside it, which march from inside to the far side.
std::vector<SurfaceRay> cloudRays(unsigned seed, float spread, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<SurfaceRay> rays;
    for (int i = 0; i < count; ++i) {
        double o[3], target[3];
        for (int a = 0; a < 3; ++a) {
            o[a] = u(rng) * 6.0 * spread;
            target[a] = u(rng) * spread;
        }
        rays.push_back(rayFrom(o, target));
        const double inside[3] = {target[0] * 0.3, target[1] * 0.3, target[2] * 0.3};
        rays.push_back(rayFrom(inside, o));
    }
    return rays;
}

} // namespace

TEST(MarchBounds, EveryKernelSizedAndUniformMatchesThePlainMarch) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-25.0f, 25.0f);
    std::uniform_real_distribution<double> size(4.0, 13.0);
    for (int kernel = 0; kernel < 7; ++kernel) {
        for (bool sized : {false, true}) {
            Scene s;
            for (int i = 0; i < 120; ++i) {
                for (int a = 0; a < 3; ++a) {
                    s.positions.push_back(u(rng));
                }
                if (sized) {
                    s.sizes.push_back(size(rng));
                }
            }
            s.params = paramsWith(kernel, 0.35f, 0.2f);
            const std::int64_t skipped =
                expectSameAsPlain(s, cloudRays(kernel * 2 + sized, 25.0f, 60));
            // The bounds must have passed samples, or this test would prove nothing.
            EXPECT_GT(skipped, 0);
        }
    }
}

// The average-distance surface: sized and uniform, with the blend band at the fringe, without
// one (cutoff 0) and as a hard step (cutoff 1).
TEST(MarchBounds, AverageSurfaceMatchesThePlainMarch) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-20.0f, 20.0f);
    std::uniform_real_distribution<double> size(5.0, 12.0);
    int run = 0;
    for (int kernel : {0, 1, 4, 6}) {
        for (bool sized : {false, true}) {
            for (float cutoff : {0.5f, 0.0f, 1.0f}) {
                Scene s;
                for (int i = 0; i < 40; ++i) {
                    for (int a = 0; a < 3; ++a) {
                        s.positions.push_back(u(rng));
                    }
                    if (sized) {
                        s.sizes.push_back(size(rng));
                    }
                }
                s.params = paramsWith(kernel, 0.5f, 0.25f);
                s.params.useAverage = 1;
                s.params.cutoff = cutoff;
                s.params.trim = 0.65f;
                const std::int64_t skipped =
                    expectSameAsPlain(s, cloudRays(100 + run++, 20.0f, 40));
                EXPECT_GT(skipped, 0);
            }
        }
    }
}

// A map that varies over space (from below 0 to above 1), so that nothing about it is bounded.
class WavyMap : public Texmap {
public:
    float EvalMono(ShadeContext& sc) override {
        const Point3 p = sc.P();
        return 0.5f + 0.7f * std::sin(0.31f * p.x + 0.17f * p.z);
    }
    AColor EvalColor(ShadeContext& sc) override {
        const float v = EvalMono(sc);
        return AColor(v, v, v, 1.0f);
    }
};

// A textured field is bounded only where no metaball reaches, and only when multiplied: the
// multiplied march passes such samples, the subtracted one passes none, and both find the plain
// march's hits.
TEST(MarchBounds, TexturedFieldsMatchThePlainMarch) {
    WavyMap map;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-40.0f, 40.0f);
    for (int type : {0, 1}) {
        for (bool clamp : {false, true}) {
            Scene s;
            for (int i = 0; i < 60; ++i) {
                for (int a = 0; a < 3; ++a) {
                    s.positions.push_back(u(rng));
                }
            }
            s.params = paramsWith(2, 0.3f, 0.2f);
            s.params.texmap = &map;
            s.params.textureType = static_cast<std::uint8_t>(type);
            s.params.textureStrength = 0.8f;
            s.params.useClamp = clamp ? 1 : 0;
            s.params.clampTo = 0.45f;
            const std::int64_t skipped = expectSameAsPlain(s, cloudRays(40 + type, 40.0f, 60));
            if (type == 0) {
                EXPECT_GT(skipped, 0);
            } else {
                EXPECT_EQ(skipped, 0);
            }
        }
    }
}

// One metaball, rays whose closest approach lies a hair inside or outside the iso-surface: the
// field's maximum along the ray is within rounding of the threshold.
TEST(MarchBounds, GrazingRaysOfOneMetaball) {
    for (int kernel = 0; kernel < 7; ++kernel) {
        Scene s;
        s.positions = {1.5f, -2.0f, 0.25f};
        s.params = paramsWith(kernel, 0.5f, 0.05f);
        const double r2 = 100.0;
        // The iso-radius: bisect the kernel itself for the distance where it equals the threshold.
        double lo = 0.0, hi = 10.0;
        for (int i = 0; i < 200; ++i) {
            const double mid = 0.5 * (lo + hi);
            (kernelFor(kernel)(r2, mid * mid) > 0.5 ? lo : hi) = mid;
        }
        std::vector<SurfaceRay> rays;
        for (double offset : {-1e-3, -1e-5, -1e-7, 0.0, 1e-7, 1e-5, 1e-3}) {
            const double d = lo + offset;
            const double o[3] = {1.5 - 40.0, -2.0 + d, 0.25};
            const double target[3] = {1.5 + 40.0, -2.0 + d, 0.25};
            rays.push_back(rayFrom(o, target));
            const double o2[3] = {1.5 + d * 0.6, -2.0 - 40.0, 0.25 + d * 0.8};
            const double t2[3] = {1.5 + d * 0.6, -2.0 + 40.0, 0.25 + d * 0.8};
            rays.push_back(rayFrom(o2, t2));
        }
        // The test needs some of them to hit for its comparison to mean anything.
        expectSameAsPlain(s, rays);
    }
}

// Two metaballs whose field has a saddle between them: thresholds just below and just above the
// saddle's value, rays along the line through both centres and across the saddle.
TEST(MarchBounds, ThresholdsAtASaddle) {
    for (int kernel : {0, 2, 6}) {
        const double r2 = 100.0;
        const float gap = 6.0f;
        // Along the axis the field between the two is smallest midway.
        const double saddle = 2.0 * kernelFor(kernel)(r2, static_cast<double>(gap) * gap);
        for (double dt : {-1e-9, -1e-12, 1e-12, 1e-9}) {
            Scene s;
            s.positions = {-gap, 0.0f, 0.0f, gap, 0.0f, 0.0f};
            s.params = paramsWith(kernel, static_cast<float>(saddle + dt), 0.02f);
            std::vector<SurfaceRay> rays;
            const double a[3] = {-30.0, 0.0, 0.0}, b[3] = {30.0, 0.0, 0.0};
            rays.push_back(rayFrom(a, b));
            rays.push_back(rayFrom(b, a));
            for (double y : {0.0, 0.5, 2.0}) {
                const double c[3] = {0.0, -30.0, y}, d[3] = {0.0, 30.0, y};
                rays.push_back(rayFrom(c, d));
                const double e[3] = {-30.0, y, -30.0}, f[3] = {30.0, y, 30.0};
                rays.push_back(rayFrom(e, f));
            }
            expectSameAsPlain(s, rays);
        }
    }
}

// Moving metaballs: two segments of real motion with sizes and size deltas, rays at several
// times, against the plain march of the same segments.
TEST(MarchBounds, MovingMetaballsMatchThePlainMarch) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-18.0f, 18.0f);
    std::uniform_real_distribution<float> v(-4.0f, 4.0f);
    std::uniform_real_distribution<double> size(5.0, 10.0);
    std::uniform_real_distribution<double> grow(-2.0, 2.0);
    for (int kernel : {0, 3, 6}) {
        for (bool sized : {false, true}) {
            const int n = 50;
            auto makeFrame = [&](CompiledMovingFrame& frame, std::uint32_t seed) {
                std::mt19937 local(seed);
                frame.params = paramsWith(kernel, 0.4f, 0.2f);
                frame.params.segmentCount = 2;
                frame.segmentPositions = new float*[4];
                frame.segmentSizes = sized ? new double*[4] : nullptr;
                frame.segmentCounts = new std::int32_t[2]{n, n};
                for (int seg = 0; seg < 2; ++seg) {
                    frame.segmentPositions[2 * seg] = new float[3 * n];
                    frame.segmentPositions[2 * seg + 1] = new float[3 * n];
                    if (sized) {
                        frame.segmentSizes[2 * seg] = new double[n];
                        frame.segmentSizes[2 * seg + 1] = new double[n];
                    }
                    for (int i = 0; i < 3 * n; ++i) {
                        frame.segmentPositions[2 * seg][i] = u(local);
                        frame.segmentPositions[2 * seg + 1][i] = v(local);
                    }
                    for (int i = 0; sized && i < n; ++i) {
                        frame.segmentSizes[2 * seg][i] = size(local);
                        frame.segmentSizes[2 * seg + 1][i] = grow(local);
                    }
                }
            };
            VelquinMetaballPrimitiveMoving fast;
            VelquinMetaballPrimitiveMoving plain;
            CompiledMovingFrame a, b;
            const std::uint32_t seed = rng();
            makeFrame(a, seed);
            makeFrame(b, seed);
            ASSERT_TRUE(fast.setup(a));
            ASSERT_TRUE(plain.setup(b));
            plain.fieldKernel = kPlain[kernel];
            TraceCounters counters;
            int hits = 0;
            std::vector<SurfaceRay> rays = cloudRays(kernel * 2 + sized, 18.0f, 40);
            for (std::size_t i = 0; i < rays.size(); ++i) {
                SurfaceRay ray = rays[i];
                ray.time = static_cast<float>(i % 7) / 6.0f;
                SurfaceHit ha, hb;
                SurfaceRay counted = ray;
                counted.counters = &counters;
                const bool hitA = fast.intersectSurface(counted, ha);
                const bool hitB = plain.intersectSurface(ray, hb);
                SCOPED_TRACE(::testing::Message() << "ray " << i << " kernel " << kernel);
                EXPECT_EQ(hitA, hitB);
                if (hitA && hitB) {
                    ++hits;
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(ha.t),
                              std::bit_cast<std::uint64_t>(hb.t));
                    for (int k = 0; k < 3; ++k) {
                        EXPECT_EQ(std::bit_cast<std::uint32_t>(ha.normal[k]),
                                  std::bit_cast<std::uint32_t>(hb.normal[k]));
                    }
                }
            }
            EXPECT_GT(hits, 0);
            EXPECT_GT(counters.skipped, 0);
        }
    }
}
