#include "platform/vray/simple_rayserver.h"
#include "renderer/EmbreeRayServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace velquin::renderer {
namespace {

// A sphere that moves linearly over the shutter, and records what the ray server does with it.
template <class Box> class TestSphere : public VR::DynamicPrimitive<Box> {
public:
    Point3 c0, motion;
    float r = 1.0f;
    int expansions[4] = {0, 0, 0, 0};
    int collapses[4] = {0, 0, 0, 0};
    // Written by whichever thread's ray meets the sphere last.
    std::atomic<int> lastSlot{-1}, lastTag{0}, lastThread{-1};
    std::atomic<float> lastTime{-1.0f};

    Point3 centreAt(float time) const { return c0 + motion * time; }

    void getBBox(Box& b) override;
    void expandForThread(VR::RayServerInterface* rs, int t) override {
        ++expansions[t];
        VR::DynamicPrimitive<Box>::expandForThread(rs, t);
    }
    void collapseForThread(VR::RayServerInterface* rs, int t) override {
        ++collapses[t];
        VR::DynamicPrimitive<Box>::collapseForThread(rs, t);
    }
    int intersect(VR::RayBase& ray) override {
        lastSlot = ray.rc->slot;
        lastTag = ray.rc->rayTag;
        lastThread = ray.rc->threadIndex;
        lastTime = ray.time;
        Point3 c = centreAt(ray.time);
        double o[3] = {ray.p[0] - c.x, ray.p[1] - c.y, ray.p[2] - c.z};
        double d[3] = {ray.dir[0], ray.dir[1], ray.dir[2]};
        double a = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        double b = o[0] * d[0] + o[1] * d[1] + o[2] * d[2];
        double cc = o[0] * o[0] + o[1] * o[1] + o[2] * o[2] - double(r) * r;
        double disc = b * b - a * cc;
        if (disc < 0.0)
            return 0;
        double s = std::sqrt(disc);
        double t = (-b - s) / a;
        if (t < ray.tmin)
            t = (-b + s) / a;
        if (t < ray.tmin || t > ray.nearestDist)
            return 0;
        ray.nearestDist = t;
        ray.hitPrimitive = this;
        ray.hitTopPrimitive = this;
        return 1;
    }
    VR::Vector getSurfaceNormal(ShadeContext& sc) override {
        VR::VRayContext* rc = VR::VRayContext::fromShadeContext(sc);
        Point3 p(float(rc->rayresult.wpoint[0]), float(rc->rayresult.wpoint[1]),
                 float(rc->rayresult.wpoint[2]));
        return Normalize(p - centreAt(rc->ray.time));
    }
};

template <> void TestSphere<VR::StaticBox>::getBBox(VR::StaticBox& b) {
    b.pmin = c0 - Point3(r, r, r);
    b.pmax = c0 + Point3(r, r, r);
}
template <> void TestSphere<VR::MovingBox>::getBBox(VR::MovingBox& b) {
    b.tstart = 0.0f;
    b.tend = 1.0f;
    b.b[0].pmin = c0 - Point3(r, r, r);
    b.b[0].pmax = c0 + Point3(r, r, r);
    b.b[1].pmin = motion;
    b.b[1].pmax = motion;
}

void shoot(VR::VRayContext& rc, Point3 o, Point3 d, float time = 0.0f, int tag = 5) {
    double org[3] = {o.x, o.y, o.z};
    float dir[3] = {d.x, d.y, d.z};
    rc.beginRay(org, dir, 0.0, 1e18, time, tag);
}

TEST(EmbreeRayServerTest, NearestHitExpansionAndRayIdentity) {
    EmbreeRayServer rs(2);
    TestSphere<VR::StaticBox> near, far;
    near.c0 = Point3(0, 0, 5);
    far.c0 = Point3(0, 0, 10);
    rs.beginFrame();
    rs.setOwnerTag(7);
    rs.storeDynamicStaticPrimitive(&far, &far, rs.newRenderID());
    rs.setOwnerTag(8);
    rs.storeDynamicStaticPrimitive(&near, &near, rs.newRenderID());
    rs.commit();

    VR::VRayContext rc;
    rc.threadIndex = 1;
    rc.slot = 3;
    shoot(rc, Point3(0, 0, 0), Point3(0, 0, 1), 0.0f, 42);
    TraceHit h = rs.trace(rc);
    ASSERT_TRUE(h.hit);
    EXPECT_TRUE(h.dynamic);
    EXPECT_EQ(h.ownerTag, 8);
    EXPECT_DOUBLE_EQ(h.dist, 4.0);
    EXPECT_EQ(rc.rayresult.primitive, &near);
    EXPECT_EQ(rc.rayresult.normal, Point3(0, 0, -1));
    EXPECT_EQ(rc.rayresult.side, 0);
    EXPECT_EQ(near.lastThread, 1);
    EXPECT_EQ(near.lastSlot, 3);
    EXPECT_EQ(near.lastTag, 42);

    // Expanded once on first use, per thread; not on a thread that traced nothing.
    for (int k = 0; k < 3; ++k) {
        shoot(rc, Point3(0.1f, 0, 0), Point3(0, 0, 1));
        rs.trace(rc);
    }
    EXPECT_EQ(near.expansions[1], 1);
    EXPECT_EQ(near.expansions[0], 0);
    // A ray that misses both boxes expands nothing more.
    shoot(rc, Point3(50, 0, 0), Point3(0, 0, 1));
    EXPECT_FALSE(rs.trace(rc).hit);

    rs.endFrame();
    EXPECT_EQ(near.collapses[1], 1);
    EXPECT_EQ(near.collapses[0], 0);
    EXPECT_EQ(rs.storedCount(), 0);
}

TEST(EmbreeRayServerTest, TrianglesAndPrimitivesCompeteForTheNearestHit) {
    EmbreeRayServer rs(1);
    TestSphere<VR::StaticBox> s;
    s.c0 = Point3(0, 0, 10);
    rs.beginFrame();
    rs.setOwnerTag(1);
    rs.storeDynamicStaticPrimitive(&s, &s, 0);
    // A big triangle across the ray at z = 5, then one behind the sphere at z = 20.
    rs.addTriangles({-10, -10, 5, 10, -10, 5, 0, 10, 5}, {0, 1, 2}, 2);
    rs.addTriangles({-10, -10, 20, 10, -10, 20, 0, 10, 20}, {0, 1, 2}, 3);
    rs.commit();
    VR::VRayContext rc;
    shoot(rc, Point3(0, 0, 0), Point3(0, 0, 1));
    TraceHit h = rs.trace(rc);
    EXPECT_TRUE(h.hit);
    EXPECT_FALSE(h.dynamic);
    EXPECT_EQ(h.ownerTag, 2);
    EXPECT_EQ(h.dist, 5.0);
    // From beyond the first triangle, the sphere is nearer than the far one.
    shoot(rc, Point3(0, 0, 6), Point3(0, 0, 1));
    h = rs.trace(rc);
    EXPECT_TRUE(h.dynamic);
    EXPECT_EQ(h.ownerTag, 1);
    EXPECT_DOUBLE_EQ(h.dist, 3.0);
    // Occlusion honours tmax.
    double o[3] = {0, 0, 6};
    float d[3] = {0, 0, 1};
    rc.beginRay(o, d, 0.0, 2.5, 0.0f, 9);
    EXPECT_FALSE(rs.occluded(rc));
    rc.beginRay(o, d, 0.0, 3.5, 0.0f, 10);
    EXPECT_TRUE(rs.occluded(rc));
    rs.endFrame();
}

TEST(EmbreeRayServerTest, MovingBoxIsBoundOverTheWholeShutterAndTimeReachesThePrimitive) {
    EmbreeRayServer rs(1);
    TestSphere<VR::MovingBox> s;
    s.c0 = Point3(0, 0, 10);
    s.motion = Point3(6, 0, 0);
    rs.beginFrame();
    rs.setOwnerTag(0);
    rs.storeDynamicMovingPrimitive(&s, &s, 0);
    VR::StaticBox b = rs.storedBounds(0);
    EXPECT_EQ(b.pmin, Point3(-1, -1, 9));
    EXPECT_EQ(b.pmax, Point3(7, 1, 11));
    rs.commit();
    VR::VRayContext rc;
    // At time 1 the sphere stands at x = 6: a ray there hits, one at x = 0 misses.
    shoot(rc, Point3(6, 0, 0), Point3(0, 0, 1), 1.0f);
    EXPECT_TRUE(rs.trace(rc).hit);
    EXPECT_EQ(s.lastTime, 1.0f);
    shoot(rc, Point3(0, 0, 0), Point3(0, 0, 1), 1.0f);
    EXPECT_FALSE(rs.trace(rc).hit);
    shoot(rc, Point3(0, 0, 0), Point3(0, 0, 1), 0.0f);
    EXPECT_TRUE(rs.trace(rc).hit);
    rs.endFrame();
}

TEST(EmbreeRayServerTest, AgreesWithTheReferenceServer) {
    TestSphere<VR::StaticBox> a, b;
    a.c0 = Point3(0.3f, 0, 5);
    a.r = 1.5f;
    b.c0 = Point3(-0.5f, 0.2f, 6);
    b.r = 1.2f;
    EmbreeRayServer es(1);
    VR::SimpleRayServer ss(1);
    es.beginFrame();
    es.storeDynamicStaticPrimitive(&a, &a, 0);
    es.storeDynamicStaticPrimitive(&b, &b, 1);
    es.commit();
    ss.storeDynamicStaticPrimitive(&a, &a, 0);
    ss.storeDynamicStaticPrimitive(&b, &b, 1);
    VR::VRayContext r1, r2;
    int hits = 0;
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 40; ++j) {
            Point3 d = Normalize(Point3(-0.5f + i / 40.0f, -0.5f + j / 40.0f, 1.0f));
            shoot(r1, Point3(0, 0, 0), d);
            shoot(r2, Point3(0, 0, 0), d);
            TraceHit h = es.trace(r1);
            bool h2 = ss.findNearestHit(r2);
            ASSERT_EQ(h.hit, h2) << i << "," << j;
            if (!h2)
                continue;
            ++hits;
            EXPECT_EQ(h.dist, r2.rayresult.dist);
            EXPECT_EQ(r1.rayresult.primitive, r2.rayresult.primitive);
            EXPECT_EQ(r1.rayresult.normal, r2.rayresult.normal);
        }
    EXPECT_GT(hits, 100);
    es.endFrame();
    ss.clearFrame();
}

TEST(EmbreeRayServerTest, ThreadsExpandIndependentlyOncePerThread) {
    EmbreeRayServer rs(2);
    TestSphere<VR::StaticBox> s;
    s.c0 = Point3(0, 0, 5);
    rs.beginFrame();
    rs.storeDynamicStaticPrimitive(&s, &s, 0);
    rs.commit();
    auto work = [&](int t) {
        VR::VRayContext rc;
        rc.threadIndex = t;
        for (int k = 0; k < 2000; ++k) {
            shoot(rc, Point3(0.0001f * k, 0, 0), Point3(0, 0, 1), 0.0f, k + 1);
            EXPECT_TRUE(rs.trace(rc).hit);
        }
    };
    std::thread t0(work, 0), t1(work, 1);
    t0.join();
    t1.join();
    EXPECT_EQ(s.expansions[0], 1);
    EXPECT_EQ(s.expansions[1], 1);
    rs.endFrame();
    EXPECT_EQ(s.collapses[0], 1);
    EXPECT_EQ(s.collapses[1], 1);
}

} // namespace
} // namespace velquin::renderer
