// A whole render on the stand-ins: a scene with a coloured mesh node and scripted metaballs,
// rendered for two frames, still and motion-blurred, through the simple ray server on two render
// threads. Every hit must come back with the colour gathered for what it hit.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "render_fixture.h"

namespace velquin {
namespace {

using namespace rendertest;

struct RayCase {
    Point3 origin, direction;
    Color colour;  // expected metaball colour
    bool nearOnly; // colour blended from many equal colours: equal up to rounding
};

struct ThreadResult {
    int rays = 0;
    int hits = 0;
    int colourFaults = 0;
    std::vector<double> dist;
};

// Records in the hit table of a render thread.
int tableCount(VRenderInstance* instance, int thread) {
    if (auto* s = dynamic_cast<VelquinMetaballInstanceStatic*>(instance)) {
        return s->hitTables[thread]->count();
    }
    return dynamic_cast<VelquinMetaballInstanceMoving*>(instance)->hitTables[thread]->count();
}

class EndToEnd : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        // The sphere node moves +x by 16 units per frame; the metaball object's own node is
        // far off, which must not move the metaballs (they live in world space).
        INode* sphere = scene.CreateNode(colouredSphere(Point3(0.0f, 1.0f, 0.0f)), "Sphere");
        sphere->SetNodeTMKey(0, Matrix3());
        sphere->SetNodeTMKey(320, TransMatrix(Point3(32.0f, 0.0f, 0.0f)));
        pb.addNode(sphere);
        pb.addNode(nullptr); // skipped
        pb.setPoints(pb_metaballs, {Point3(0.0f, 200.0f, 0.0f), Point3(0.0f, 200.0f, 60.0f)});
        pb.setPoints(pb_colors, {Point3(1.0f, 0.0f, 0.5f)}); // the second pads with black
        pb->SetValue(pb_color, 0, 1);
        pb->SetValue(pb_mbSamples, 0, 3);
        metaballNode = scene.CreateNode(nullptr, "Metaball");
        metaballNode->SetNodeTMConstant(TransMatrix(Point3(500.0f, 500.0f, 500.0f)));
    }

    static ThreadResult run(TestRenderer& r, int thread, const std::vector<RayCase>& cases,
                            float time) {
        ThreadResult out;
        for (int k = 0; k < 40; ++k) {
            const RayCase& c = cases[static_cast<std::size_t>(k) % cases.size()];
            Traced t = trace(r, thread, c.origin, c.direction, time);
            ++out.rays;
            if (!t.hit) {
                continue;
            }
            ++out.hits;
            out.dist.push_back(t.result.dist);
            const Color& m = t.result.metaballColor;
            bool ok = t.result.metaballColorValid == 1;
            if (c.nearOnly) {
                ok = ok && m.r == c.colour.r && m.b == c.colour.b &&
                     std::fabs(m.g - c.colour.g) <= 1e-6f;
            } else {
                ok = ok && m == c.colour;
            }
            out.colourFaults += ok ? 0 : 1;
        }
        return out;
    }

    Scene scene;
    RenderBlock pb;
    INode* metaballNode = nullptr;
};

TEST_P(EndToEnd, TwoFramesTwoThreads) {
    const bool blur = GetParam();
    TestRenderer r(2, blur);
    TestRenderObject object(pb.get());
    object.init(metaballNode, &r.core);
    object.renderBegin(0, &r.core);
    VRenderInstance* instance = object.createRenderInstance(metaballNode, &r.core, 1);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(dynamic_cast<VelquinMetaballInstanceMoving*>(instance) != nullptr, blur);
    instance->renderBegin(0, &r.core);

    const std::vector<RayCase> cases = {
        {Point3(300.0f, 0.0f, 0.0f), Point3(-1.0f, 0.0f, 0.0f), Color(0.0f, 1.0f, 0.0f), true},
        {Point3(0.0f, 200.0f, -200.0f), Point3(0.0f, 0.0f, 2.0f), Color(1.0f, 0.0f, 0.5f), false},
        {Point3(0.0f, 200.0f, 300.0f), Point3(0.0f, 0.0f, -1.0f), Color(0.0f, 0.0f, 0.0f), false},
    };
    double firstSphereDist[2] = {0.0, 0.0};
    for (int frame = 0; frame < 2; ++frame) {
        const TimeValue t = frame * 160;
        r.setFrame(t, t, t + 160.0);
        object.frameBegin(t, &r.core);
        instance->frameBegin(t, &r.core);
        instance->registerGeometry(&r.core);
        EXPECT_EQ(r.server.storedCount(), 1);

        // The renderer's statistics learn the metaball count through the instance.
        auto* stats = VR::queryInterface<VR::GeometryStats>(
            static_cast<VR::SurfaceProperties*>(instance), VR::EXT_GEOMETRY_STATS);
        ASSERT_NE(stats, nullptr);
        EXPECT_STREQ(stats->geometryItemName(), "metaballs");
        const long long compiled =
            blur
                ? dynamic_cast<VelquinMetaballInstanceMoving*>(instance)->primitive.segmentCounts[0]
                : dynamic_cast<VelquinMetaballInstanceStatic*>(instance)->primitive.count;
        EXPECT_GT(compiled, 2); // the sphere's vertices and the two scripted metaballs
        EXPECT_EQ(stats->geometryItemCount(), compiled);
        EXPECT_EQ(stats->droppedNonFinite(), 0);
        EXPECT_EQ(stats->droppedNonPositiveSize(), 0);
        // The work counters start at zero with every frame compile.
        VR::TraceWork work;
        work.samples = work.distanceTests = work.evaluations = -1;
        ASSERT_TRUE(stats->traceWork(work));
        EXPECT_EQ(work.samples, 0);
        EXPECT_EQ(work.distanceTests, 0);
        EXPECT_EQ(work.evaluations, 0);

        ThreadResult results[2];
        std::thread workers[2];
        for (int k = 0; k < 2; ++k) {
            workers[k] = std::thread([&, k] { results[k] = run(r, k, cases, blur ? 0.0f : 0.5f); });
        }
        for (auto& w : workers) {
            w.join();
        }
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE(::testing::Message() << "frame " << frame << " thread " << k);
            EXPECT_EQ(results[k].hits, results[k].rays);
            EXPECT_EQ(results[k].colourFaults, 0);
            EXPECT_EQ(r.server.expansionCount(k), frame + 1); // once per thread and frame
            EXPECT_EQ(tableCount(instance, k), 1);            // each thread kept its records
            EXPECT_EQ(r.server.insertedCount(k), 1);
        }
        // Both threads see the same surface.
        EXPECT_EQ(results[0].dist, results[1].dist);

        // Both threads marched and counted into their own rows; the hits needed kernel
        // evaluations, and no metaball is evaluated without its distance test.
        ASSERT_TRUE(stats->traceWork(work));
        EXPECT_GE(work.samples, static_cast<long long>(2 * cases.size()));
        EXPECT_GT(work.evaluations, 0);
        EXPECT_GE(work.distanceTests, work.evaluations);
        firstSphereDist[frame] = results[0].dist[0];

        if (blur) {
            // Later in the shutter the sphere has moved towards the ray's origin.
            Traced late = trace(r, 0, cases[0].origin, cases[0].direction, 1.0f);
            ASSERT_TRUE(late.hit);
            EXPECT_GT(firstSphereDist[frame] - late.result.dist, 12.0);
            EXPECT_LT(firstSphereDist[frame] - late.result.dist, 20.0);
        }
        instance->frameEnd(&r.core);
        object.frameEnd(&r.core);
        r.server.clearFrame();
        EXPECT_EQ(r.server.insertedCount(0), 0);
    }
    // The sphere is 16 units nearer in the second frame.
    EXPECT_GT(firstSphereDist[0] - firstSphereDist[1], 12.0);
    EXPECT_LT(firstSphereDist[0] - firstSphereDist[1], 20.0);

    instance->renderEnd(&r.core);
    object.renderEnd(&r.core);
    object.destroyRenderInstance(instance);
}

INSTANTIATE_TEST_SUITE_P(MotionBlur, EndToEnd, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Blurred" : "Still"; });

} // namespace
} // namespace velquin
