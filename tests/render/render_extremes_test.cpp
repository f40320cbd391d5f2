// Parameters at both ends of their ranges, rendered through a render instance (frame compile,
// primitive, ray server) on a small set of rays: every ray comes back, distances and colours are
// finite, and where the surface itself does not change, the hits are those of the ordinary
// settings. The scene is small (radius 2, three metaballs on the rays) so that even the shortest
// step stays cheap; a column of 61 metaballs off the rays, ever closer together, makes the
// hierarchy reach its depth limit.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "render_fixture.h"

namespace velquin {
namespace {

using namespace rendertest;

constexpr int kExtraBalls = 61;

struct Frame {
    std::vector<double> dist; // NaN for a miss
    int hits = 0;
    int faults = 0; // hits with a distance or colour that is not finite, or not ahead of the origin
};

using Settings = std::function<void(RenderBlock&)>;

// 27 rays along +z: nine around each of the three metaballs, all within 0.57 of its centre.
std::vector<Point3> rayOrigins() {
    std::vector<Point3> out;
    const Point3 centres[3] = {{0, 0, 0}, {1.5f, 0, 0}, {0, 1.5f, 0}};
    for (const Point3& c : centres) {
        for (float dx : {-0.4f, 0.0f, 0.4f}) {
            for (float dy : {-0.4f, 0.0f, 0.4f}) {
                out.emplace_back(c.x + dx, c.y + dy, -10.0f);
            }
        }
    }
    return out;
}

Frame render(const Settings& settings, bool blur = false) {
    Scene scene;
    RenderBlock pb;
    const int n = 3 + kExtraBalls;
    pb->SetCount(pb_metaballs, n);
    pb->SetValue(pb_metaballs, 0, Point3(0, 0, 0), 0);
    pb->SetValue(pb_metaballs, 0, Point3(1.5f, 0, 0), 1);
    pb->SetValue(pb_metaballs, 0, Point3(0, 1.5f, 0), 2);
    for (int k = 0; k < kExtraBalls; ++k) {
        pb->SetValue(pb_metaballs, 0, Point3(std::ldexp(1.0f, -k), 100.0f, 0.0f), 3 + k);
    }
    pb.setPoints(pb_colors, {Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1)});
    pb->SetValue(pb_color, 0, 1);
    pb->SetValue(pb_radius, 0, 2.0f);
    pb->SetValue(pb_step, 0, 0.1f);
    settings(pb);

    INode* node = scene.CreateNode(nullptr, "Metaball");
    TestRenderer r(1, blur);
    TestRenderObject object(pb.get());
    object.init(node, &r.core);
    object.renderBegin(0, &r.core);
    VRenderInstance* instance = object.createRenderInstance(node, &r.core, 1);
    EXPECT_NE(instance, nullptr);
    Frame frame;
    if (instance == nullptr) {
        return frame;
    }
    instance->renderBegin(0, &r.core);
    r.setFrame(0, 0.0, 160.0);
    object.frameBegin(0, &r.core);
    instance->frameBegin(0, &r.core);
    instance->registerGeometry(&r.core);

    for (const Point3& o : rayOrigins()) {
        const Traced t = trace(r, 0, o, Point3(0, 0, 1), 0.5f);
        if (!t.hit) {
            frame.dist.push_back(std::nan(""));
            continue;
        }
        ++frame.hits;
        frame.dist.push_back(t.result.dist);
        const Color& c = t.result.metaballColor;
        const bool sound = std::isfinite(t.result.dist) && t.result.dist > 0.0 &&
                           std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b);
        frame.faults += sound ? 0 : 1;
    }

    instance->frameEnd(&r.core);
    object.frameEnd(&r.core);
    r.server.clearFrame();
    instance->renderEnd(&r.core);
    object.renderEnd(&r.core);
    object.destroyRenderInstance(instance);
    return frame;
}

const Settings kOrdinary = [](RenderBlock&) {};

// Every ray hits, at most `tolerance` from where the ordinary settings put the surface.
void expectSameSurface(const Frame& got, const Frame& base, double tolerance) {
    ASSERT_EQ(got.dist.size(), base.dist.size());
    EXPECT_EQ(got.hits, static_cast<int>(got.dist.size()));
    EXPECT_EQ(got.faults, 0);
    for (std::size_t i = 0; i < got.dist.size(); ++i) {
        EXPECT_NEAR(got.dist[i], base.dist[i], tolerance) << "ray " << i;
    }
}

class RenderExtremes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { base_ = new Frame(render(kOrdinary)); }
    static void TearDownTestSuite() {
        delete base_;
        base_ = nullptr;
    }
    static const Frame& base() { return *base_; }

private:
    static Frame* base_;
};
Frame* RenderExtremes::base_ = nullptr;

TEST_F(RenderExtremes, OrdinarySettingsHitEveryRay) {
    EXPECT_EQ(base().hits, 27);
    EXPECT_EQ(base().faults, 0);
}

TEST_F(RenderExtremes, ShortestStepAndSmallestError) {
    expectSameSurface(render([](RenderBlock& pb) { pb->SetValue(pb_step, 0, 0.0001f); }), base(),
                      1e-3);
    expectSameSurface(render([](RenderBlock& pb) { pb->SetValue(pb_error, 0, 0.00001f); }), base(),
                      2e-4);
}

TEST_F(RenderExtremes, LargestErrorAndStep) {
    // An error above half the step: no bisection, the crossing is the middle of its last step.
    expectSameSurface(render([](RenderBlock& pb) { pb->SetValue(pb_error, 0, 0.06f); }), base(),
                      0.05 + 2e-4);
    // The search starts two errors beyond the ray's start: with the largest error, past the
    // scene.
    EXPECT_EQ(render([](RenderBlock& pb) { pb->SetValue(pb_error, 0, 1e6f); }).hits, 0);
    // A step longer than the scene: one sample at each box's entry, then past everything.
    const Frame longStep = render([](RenderBlock& pb) { pb->SetValue(pb_step, 0, 1e6f); });
    EXPECT_EQ(longStep.hits, 0);
}

TEST_F(RenderExtremes, HierarchyDepthAndLeafSizes) {
    const Settings cases[] = {
        [](RenderBlock& pb) {
            pb->SetValue(pb_depth, 0, 50);
            pb->SetValue(pb_leafSize, 0, 1);
        },
        [](RenderBlock& pb) { pb->SetValue(pb_depth, 0, 1); },
        [](RenderBlock& pb) { pb->SetValue(pb_leafSize, 0, 10000); },
        [](RenderBlock& pb) { pb->SetValue(pb_leafLength, 0, 0.0001f); },
        [](RenderBlock& pb) {
            pb->SetValue(pb_leafLength, 0, 1e6f);
            pb->SetValue(pb_depth, 0, 50);
        },
    };
    int i = 0;
    for (const Settings& s : cases) {
        SCOPED_TRACE(i++);
        // Other leaves sum the metaballs in another order: the last bits of the field move.
        expectSameSurface(render(s), base(), 2e-4);
    }
}

TEST_F(RenderExtremes, MostMotionBlurSamples) {
    const Frame blurred = render([](RenderBlock& pb) { pb->SetValue(pb_mbSamples, 0, 160); }, true);
    expectSameSurface(blurred, base(), 2e-4);
    const Frame fewest = render([](RenderBlock& pb) { pb->SetValue(pb_mbSamples, 0, 1); }, true);
    expectSameSurface(fewest, base(), 0.0);
}

TEST_F(RenderExtremes, SmallestAndLargestRadius) {
    // Surfaces far thinner than the step: stepped over.
    EXPECT_EQ(render([](RenderBlock& pb) { pb->SetValue(pb_radius, 0, 0.0001f); }).hits, 0);

    // Every ray starts inside one huge blob and reports its exit. All 64 metaballs lie within
    // 100 of the axis, so the exit is where 64 (1 - z^2 / R^2)^3 = 0.5 (power of three); the step
    // grows with the radius so that the march stays short.
    const Frame huge = render([](RenderBlock& pb) {
        pb->SetValue(pb_radius, 0, 1e6f);
        pb->SetValue(pb_step, 0, 100.0f);
    });
    EXPECT_EQ(huge.hits, 27);
    EXPECT_EQ(huge.faults, 0);
    const double z = 1e6 * std::sqrt(1.0 - std::cbrt(0.5 / (3 + kExtraBalls)));
    for (double d : huge.dist) {
        EXPECT_NEAR(d, 10.0 + z, 5.0);
    }
}

TEST_F(RenderExtremes, SmallestAndLargestThreshold) {
    // A lower iso-level: larger blobs, met earlier by every ray.
    const Frame low = render([](RenderBlock& pb) { pb->SetValue(pb_threshold, 0, 0.0001f); });
    EXPECT_EQ(low.hits, 27);
    EXPECT_EQ(low.faults, 0);
    for (std::size_t i = 0; i < low.dist.size(); ++i) {
        EXPECT_LT(low.dist[i], base().dist[i]) << "ray " << i;
    }
    // Above any sum the metaballs can reach: no surface.
    EXPECT_EQ(render([](RenderBlock& pb) { pb->SetValue(pb_threshold, 0, 1e6f); }).hits, 0);
}

TEST_F(RenderExtremes, AverageSurfaceCutoffAndTrim) {
    const Settings cases[] = {
        [](RenderBlock& pb) { pb->SetValue(pb_useAverage, 0, 1); },
        [](RenderBlock& pb) {
            pb->SetValue(pb_useAverage, 0, 1);
            pb->SetValue(pb_cutoff, 0, 0.0001f);
            pb->SetValue(pb_trim, 0, 0.0001f);
        },
        [](RenderBlock& pb) {
            pb->SetValue(pb_useAverage, 0, 1);
            pb->SetValue(pb_cutoff, 0, 1.0f); // no band to blend across
        },
        [](RenderBlock& pb) {
            pb->SetValue(pb_useAverage, 0, 1);
            pb->SetValue(pb_cutoff, 0, 1e6f);
            pb->SetValue(pb_trim, 0, 1e6f);
        },
        [](RenderBlock& pb) {
            pb->SetValue(pb_useAverage, 0, 1);
            pb->SetValue(pb_useScale, 0, 1);
            pb->SetValue(pb_step, 0, 0.0001f);
        },
    };
    int i = 0;
    for (const Settings& s : cases) {
        SCOPED_TRACE(i++);
        const Frame f = render(s);
        EXPECT_EQ(f.faults, 0);
        EXPECT_EQ(f.dist.size(), 27u);
    }
}

} // namespace
} // namespace velquin
