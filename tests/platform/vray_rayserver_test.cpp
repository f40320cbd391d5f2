#include "platform/vray/simple_rayserver.h"
#include "platform/vray/vrender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace VR;

// Nearest root of |o + t d - c| = r beyond tmin, in double; 0 when there is none.
bool hitSphere(const RayBase& ray, const Vector& c, float r, double& t) {
    double oc[3], d[3];
    for (int i = 0; i < 3; ++i) {
        oc[i] = ray.p[i] - c[i];
        d[i] = ray.dir[i];
    }
    double a = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    double b = oc[0] * d[0] + oc[1] * d[1] + oc[2] * d[2];
    double cc = oc[0] * oc[0] + oc[1] * oc[1] + oc[2] * oc[2] - double(r) * r;
    double disc = b * b - a * cc;
    if (disc < 0)
        return false;
    double s = std::sqrt(disc);
    for (double root : {(-b - s) / a, (-b + s) / a})
        if (root > ray.tmin && root < ray.tmax) {
            t = root;
            return true;
        }
    return false;
}

bool report(RayBase& ray, double t, GenericPrimitive* self) {
    if (t > ray.nearestDist)
        return false;
    ray.nearestDist = t;
    ray.hitPrimitive = self;
    ray.hitTopPrimitive = self;
    return true;
}

struct Sphere : DynamicPrimitive<StaticBox> {
    Vector c;
    float r;
    std::atomic<int> calls{0}, expands{0}, collapses{0};
    Sphere(Vector c_, float r_) : c(c_), r(r_) {}
    void getBBox(StaticBox& b) override {
        b.pmin = c - Vector(r, r, r);
        b.pmax = c + Vector(r, r, r);
    }
    int intersect(RayBase& ray) override {
        ++calls;
        double t;
        return hitSphere(ray, c, r, t) && report(ray, t, this);
    }
    Vector getSurfaceNormal(ShadeContext& sc) override { return Normalize(sc.P() - c); }
    void expandForThread(RayServerInterface* rs, int t) override {
        ++expands;
        DynamicPrimitive::expandForThread(rs, t);
    }
    void collapseForThread(RayServerInterface* rs, int t) override {
        ++collapses;
        DynamicPrimitive::collapseForThread(rs, t);
    }
};

// A sphere moving by `move` over the frame, bounded by its box at time 0 and the motion box.
struct MovingSphere : DynamicPrimitive<MovingBox> {
    Vector c, move;
    float r;
    std::atomic<int> calls{0};
    MovingSphere(Vector c_, Vector m, float r_) : c(c_), move(m), r(r_) {}
    void getBBox(MovingBox& b) override {
        b.tstart = 0.0f;
        b.tend = 1.0f;
        b.b[0].pmin = c - Vector(r, r, r);
        b.b[0].pmax = c + Vector(r, r, r);
        b.b[1].pmin = move;
        b.b[1].pmax = move;
    }
    int intersect(RayBase& ray) override {
        ++calls;
        double t;
        return hitSphere(ray, c + move * ray.time, r, t) && report(ray, t, this);
    }
};

void aim(VRayContext& rc, double ox, double oy, double oz, float dx, float dy, float dz,
         float time = 0.0f) {
    const double o[3] = {ox, oy, oz};
    const float d[3] = {dx, dy, dz};
    rc.beginRay(o, d, 0.0, 1e18, time, 1);
}

TEST(VRaySimpleRayServer, KeepsTheNearestHitWhateverTheOrder) {
    for (int order = 0; order < 2; ++order) {
        SimpleRayServer rs(1);
        Sphere near(Vector(0, 0, 5), 1.0f), far(Vector(0, 0, 10), 1.0f);
        Sphere* first = order ? &near : &far;
        Sphere* second = order ? &far : &near;
        rs.storeDynamicStaticPrimitive(first, first, rs.newRenderID());
        rs.storeDynamicStaticPrimitive(second, second, rs.newRenderID());
        VRayContext rc;
        aim(rc, 0, 0, 0, 0, 0, 1);
        ASSERT_TRUE(rs.findNearestHit(rc));
        EXPECT_EQ(rc.ray.nearestDist, 4.0);
        EXPECT_EQ(rc.ray.hitPrimitive, &near);
        EXPECT_EQ(rc.rayresult.primitive, &near);
        EXPECT_EQ(rc.rayresult.wpoint[2], 4.0);
        EXPECT_EQ(rc.rayresult.normal, Vector(0, 0, -1));
        EXPECT_EQ(rc.rayresult.side, 0);
        rs.clearFrame();
    }
}

TEST(VRaySimpleRayServer, BoxesCullAndRangesHold) {
    SimpleRayServer rs(1);
    Sphere s(Vector(0, 0, 5), 1.0f);
    rs.storeDynamicStaticPrimitive(&s, &s, rs.newRenderID());
    VRayContext rc;
    aim(rc, 3, 0, 0, 0, 0, 1); // passes beside the box
    EXPECT_FALSE(rs.findNearestHit(rc));
    EXPECT_EQ(s.calls, 0);
    aim(rc, 0, 0, 0, 0, 0, 1);
    rc.ray.tmax = 3.0; // ends before the box
    rc.ray.nearestDist = 3.0;
    EXPECT_FALSE(rs.findNearestHit(rc));
    EXPECT_EQ(s.calls, 0);
    // From inside the sphere the far side is hit, from behind.
    aim(rc, 0, 0, 5, 1, 0, 0);
    ASSERT_TRUE(rs.findNearestHit(rc));
    EXPECT_EQ(rc.ray.nearestDist, 1.0);
    EXPECT_EQ(rc.rayresult.side, 1);
    // A thread the server does not have finds nothing.
    rc.threadIndex = 1;
    aim(rc, 0, 0, 0, 0, 0, 1);
    EXPECT_FALSE(rs.findNearestHit(rc));
    rs.clearFrame();
}

TEST(VRaySimpleRayServer, MovingBoxFollowsRayTime) {
    SimpleRayServer rs(1);
    MovingSphere m(Vector(0, 0, 5), Vector(4, 0, 0), 1.0f);
    rs.storeDynamicMovingPrimitive(&m, &m, rs.newRenderID());
    VRayContext rc;
    aim(rc, 4, 0, 0, 0, 0, 1, 0.0f); // the sphere is still at x = 0
    EXPECT_FALSE(rs.findNearestHit(rc));
    EXPECT_EQ(m.calls, 0);
    aim(rc, 4, 0, 0, 0, 0, 1, 1.0f);
    ASSERT_TRUE(rs.findNearestHit(rc));
    EXPECT_EQ(rc.ray.nearestDist, 4.0);
    rs.clearFrame();
}

TEST(VRaySimpleRayServer, ExpandsOncePerThreadAndCollapsesAtFrameEnd) {
    constexpr int kThreads = 4;
    SimpleRayServer rs(kThreads);
    Sphere a(Vector(0, 0, 5), 1.0f), b(Vector(0, 3, 5), 1.0f);
    rs.storeDynamicStaticPrimitive(&a, &a, rs.newRenderID());
    rs.storeDynamicStaticPrimitive(&b, &b, rs.newRenderID());
    std::vector<std::thread> threads;
    std::atomic<int> hits{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            VRayContext rc;
            rc.threadIndex = t;
            for (int i = 0; i < 200; ++i) {
                aim(rc, 0, (i % 2) ? 3.0 : 0.0, 0, 0, 0, 1);
                hits += rs.findNearestHit(rc);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(hits, kThreads * 200);
    EXPECT_EQ(a.expands, kThreads);
    EXPECT_EQ(b.expands, kThreads);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(rs.expansionCount(t), 2);
        EXPECT_EQ(rs.insertedCount(t), 2);
    }
    rs.clearFrame();
    EXPECT_EQ(a.collapses, kThreads);
    EXPECT_EQ(rs.insertedCount(0), 0);
    EXPECT_EQ(rs.storedCount(), 0);
    // A new frame expands again.
    rs.storeDynamicStaticPrimitive(&a, &a, rs.newRenderID());
    VRayContext rc;
    aim(rc, 0, 0, 0, 0, 0, 1);
    EXPECT_TRUE(rs.findNearestHit(rc));
    EXPECT_EQ(a.expands, kThreads + 1);
    rs.clearFrame();
}

// ---- A render instance with an embedded primitive, as a plug-in builds one ----

struct Instance;

struct Embedded : DynamicPrimitive<StaticBox> {
    GenericPrimitive* owner = nullptr;
    VRayContext* seenContext = nullptr;
    void getBBox(StaticBox& b) override {
        b.pmin = Vector(-1, -1, 4);
        b.pmax = Vector(1, 1, 6);
    }
    int intersect(RayBase& ray) override {
        double t;
        return hitSphere(ray, Vector(0, 0, 5), 1.0f, t) && report(ray, t, this);
    }
    ShadeData* getShadeData(const VRayContext& rc) override { return owner->getShadeData(rc); }
    ShadeInstance* getShadeInstance(const VRayContext& rc) override {
        return owner->getShadeInstance(rc);
    }
    SurfaceProperties* getSurfaceProperties(const VRayContext& rc) override {
        return owner->getSurfaceProperties(rc);
    }
    Shadeable* getShadeable(const VRayContext& rc) override { return owner->getShadeable(rc); }
    void setIntersectionData(RayBase& ray, RayResult& result) override {
        owner->setIntersectionData(ray, result);
    }
    VRenderInstance* getRenderInstance() override { return owner->getRenderInstance(); }
    int getObjectID(const VRayContext& rc) override { return owner->getObjectID(rc); }
    Vector getSurfaceNormal(ShadeContext& sc) override {
        seenContext = VRayContext::fromShadeContext(sc);
        return Normalize(sc.P() - Vector(0, 0, 5));
    }
};

struct Instance : ShadeData,
                  ShadeInstance,
                  VRenderInstance,
                  Shadeable,
                  DynamicPrimitive<StaticBox> {
    Embedded prim;
    int registeredId = -1;
    int idRequests = 0;
    Instance() { prim.owner = this; }

    void* getInterface(InterfaceID id) override {
        switch (id) {
        case EXT_SHADE_DATA:
            return static_cast<ShadeData*>(this);
        case EXT_SHADE_INSTANCE:
            return static_cast<ShadeInstance*>(this);
        case EXT_OBJECT_SHADE_INSTANCE:
            return static_cast<ObjectShadeInstance*>(this);
        default:
            return VRenderInstance::getInterface(id);
        }
    }
    // ShadeData
    int getShadeDataType() override { return 7; }
    Vector getNormal(const VRayContext& rc) override {
        return rc.rayresult.side ? -rc.rayresult.normal : rc.rayresult.normal;
    }
    Vector getUVWcoords(const VRayContext&, int) override { return Vector(); }
    void getUVWderivs(const VRayContext&, int, Vector d[2]) override { d[0] = d[1] = Vector(); }
    void getUVWbases(const VRayContext&, int, Vector b[3]) override {
        b[0] = b[1] = b[2] = Vector();
    }
    Vector getUVWnormal(const VRayContext&, int) override { return Vector(0, 0, 1); }
    // ShadeInstance
    Vector getBasePt(const VRayContext& rc) override { return const_cast<VRayContext&>(rc).P(); }
    Vector getBaseGNormal(const VRayContext& rc) override { return rc.rayresult.normal; }
    Vector getBaseNormal(const VRayContext& rc) override { return rc.rayresult.normal; }
    Vector getBaseBumpNormal(const VRayContext& rc) override { return rc.rayresult.normal; }
    Vector worldToObjectPt(const VRayContext&, const Vector& p) override { return p; }
    Vector worldToObjectVec(const VRayContext&, const Vector& v) override { return v; }
    Vector objectToWorldPt(const VRayContext&, const Vector& p) override { return p; }
    Vector objectToWorldVec(const VRayContext&, const Vector& v) override { return v; }
    // Shadeable
    void shade(VRayContext& rc) override { fullShade(rc, 0); }
    // Dynamic primitive part
    void getBBox(StaticBox& b) override { prim.getBBox(b); }
    int intersect(RayBase& ray) override { return prim.intersect(ray); }
    void expandForThread(RayServerInterface* rs, int thread) override {
        if (registeredId == -1) {
            ++idRequests;
            registeredId = rs->newPrimitiveID(thread, &prim);
        }
        rs->insertPrimitive(thread, &prim, this, registeredId);
    }
    void collapseForThread(RayServerInterface* rs, int thread) override {
        rs->removePrimitive(thread, &prim);
    }
    void setIntersectionData(RayBase& ray, RayResult& result) override {
        GenericPrimitive::setIntersectionData(ray, result);
        result.metaballColor = Color(1.0f, 0.5f, 0.25f);
        result.metaballColorValid = 1;
    }
    void registerGeometry(VRayCore* vray) override {
        registeredId = -1;
        RayServerInterface* rs = vray->getSequenceData().rayserver;
        rs->storeDynamicStaticPrimitive(this, this, rs->newRenderID());
    }
};

struct RenderObject : VRenderObject {
    int destroyed = 0;
    VRenderInstance* createRenderInstance(INode* node, VRayCore* vray, int id) override {
        auto* inst = new Instance;
        inst->init(this, node, vray, id);
        return inst;
    }
    void destroyRenderInstance(VRenderInstance* inst) override {
        ++destroyed;
        delete inst;
    }
};

TEST(VRayRenderInstance, IntersectionDataAndInterfacesReachTheInstance) {
    VRayCore core;
    SimpleRayServer rs(2);
    core.sequenceData.numThreads = 2;
    core.sequenceData.rayserver = &rs;
    RenderObject ro;
    auto* fakeNode = reinterpret_cast<INode*>(0x1000);
    EXPECT_EQ(ro.init(fakeNode, &core), 1);
    ro.renderBegin(0, &core);
    VRenderInstance* vi = ro.createRenderInstance(fakeNode, &core, 42);
    auto* inst = static_cast<Instance*>(vi);
    EXPECT_EQ(vi->GetINode(), fakeNode);
    EXPECT_EQ(vi->getRenderObject(), &ro);
    vi->renderBegin(0, &core);
    vi->frameBegin(160, &core);
    EXPECT_EQ(vi->getFrameTime(), 160);
    vi->registerGeometry(&core);

    VRayContext rc;
    rc.vray = &core;
    rc.threadIndex = 1;
    rc.slot = 2;
    aim(rc, 0, 0, 0, 0, 0, 2);
    rc.rayTag = core.newRayTag();
    ASSERT_TRUE(rs.findNearestHit(rc));
    EXPECT_EQ(rc.ray.nearestDist, 2.0);
    EXPECT_EQ(rc.ray.hitPrimitive, &inst->prim);
    RayResult& r = rc.rayresult;
    EXPECT_EQ(r.sd, static_cast<ShadeData*>(inst));
    EXPECT_EQ(r.si, static_cast<ShadeInstance*>(inst));
    EXPECT_EQ(r.surfaceProps, static_cast<SurfaceProperties*>(inst));
    EXPECT_EQ(r.wpoint[2], 4.0);
    EXPECT_EQ(r.metaballColorValid, 1);
    // The primitive's normal operation, given the shading context, found this ray context.
    EXPECT_EQ(inst->prim.seenContext, &rc);
    EXPECT_EQ(r.normal, Vector(0, 0, -1));
    // The embedded primitive's forwarded queries reach the instance's parts.
    EXPECT_EQ(inst->prim.getShadeable(rc), static_cast<Shadeable*>(inst));
    EXPECT_EQ(inst->prim.getRenderInstance(), vi);
    EXPECT_EQ(inst->prim.getObjectID(rc), 42);
    EXPECT_EQ(queryInterface<ObjectShadeInstance>(static_cast<ShadeData*>(inst),
                                                  EXT_OBJECT_SHADE_INSTANCE),
              static_cast<ObjectShadeInstance*>(inst));
    EXPECT_EQ(queryInterface<void>(static_cast<ShadeData*>(inst), 12345), nullptr);

    // Shading through the Shadeable part lights the surface colour by a light at the eye.
    Shadeable* sh = inst->prim.getShadeable(rc);
    sh->shade(rc);
    EXPECT_EQ(rc.mtlresult.color, Color(1.0f, 0.5f, 0.25f));
    EXPECT_EQ(rc.mtlresult.alpha, 1.0f);

    // The other thread expands on its first ray; the id was requested once.
    VRayContext rc0;
    rc0.threadIndex = 0;
    aim(rc0, 0, 0, 0, 0, 0, 1);
    EXPECT_TRUE(rs.findNearestHit(rc0));
    EXPECT_EQ(inst->idRequests, 1);
    rs.clearFrame();
    EXPECT_EQ(rs.insertedCount(0) + rs.insertedCount(1), 0);
    vi->frameEnd(&core);
    vi->renderEnd(&core);
    ro.destroyRenderInstance(vi);
    ro.renderEnd(&core);
    EXPECT_EQ(ro.destroyed, 1);
    EXPECT_FALSE(ro.isRendering());
}

TEST(VRayContextTest, ShadeContextAndTags) {
    VRayContext rc;
    ShadeContext& sc = rc;
    EXPECT_EQ(VRayContext::fromShadeContext(sc), &rc);
    struct Other : ShadeContext {
        Point3 P() override { return Point3(); }
        Point3 Normal() override { return Point3(); }
        Point3 V() override { return Point3(); }
    } other;
    EXPECT_EQ(VRayContext::fromShadeContext(other), nullptr);

    VRayCore core;
    core.frameData.t = 320;
    core.frameData.camToWorld.SetTrans(Point3(1, 2, 3));
    core.frameData.worldToCam = core.frameData.camToWorld.Inverse();
    rc.vray = &core;
    rc.rayresult.wpoint[0] = 0.5;
    rc.rayresult.normal = Vector(0, 1, 0);
    const double o[3] = {0, 0, 0};
    const float d[3] = {0, 0, 4};
    rc.beginRay(o, d, 0.0, 10.0, 0.5f, 7);
    EXPECT_EQ(rc.ray.nearestDist, 10.0);
    EXPECT_EQ(rc.ray.rc, &rc);
    EXPECT_EQ(rc.rayresult.wpoint[0], 0.0); // a new ray has no result yet
    EXPECT_EQ(sc.V(), Point3(0, 0, 1));
    EXPECT_EQ(sc.CurTime(), 320);
    EXPECT_EQ(sc.CamPos(), Point3(1, 2, 3));
    EXPECT_EQ(sc.PointTo(Point3(1, 2, 3), REF_CAMERA), Point3(0, 0, 0));
    EXPECT_EQ(sc.PointTo(Point3(1, 2, 3), REF_OBJECT), Point3(1, 2, 3));

    std::set<int> tags;
    for (int i = 0; i < 1000; ++i) {
        int t = core.newRayTag();
        EXPECT_NE(t, 0);
        tags.insert(t);
    }
    EXPECT_EQ(tags.size(), 1000u);
}

// Threads drawing tags a block at a time still get tags no other thread holds, and the blocks
// follow on from the single tags drawn before them.
TEST(VRayCoreTest, RayTagBlocksAreDistinctAcrossThreads) {
    VR::VRayCore core;
    int first = core.newRayTag();
    constexpr int kThreads = 4, kPerThread = 10000;
    std::vector<std::vector<int>> got(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t)
        pool.emplace_back([&core, &got, t] {
            VR::RayTagBlock block;
            for (int i = 0; i < kPerThread; ++i)
                got[static_cast<std::size_t>(t)].push_back(block.next(core));
        });
    for (auto& th : pool)
        th.join();
    std::set<int> all{first};
    for (const auto& g : got) {
        for (std::size_t i = 1; i < g.size(); ++i)
            ASSERT_GT(g[i], g[i - 1]); // one thread's tags only grow, far below the wrap
        all.insert(g.begin(), g.end());
    }
    EXPECT_EQ(all.size(), 1u + kThreads * kPerThread);
    EXPECT_EQ(all.count(0), 0u);
}

// Numbers wrap onto tags 1 .. 2^31 - 1 in turn; a 32-bit count used to jump back to an early tag
// at 2^32.
TEST(VRayCoreTest, RayTagNumbersCycleWithoutZero) {
    EXPECT_EQ(VR::VRayCore::rayTagOf(0), 1);
    EXPECT_EQ(VR::VRayCore::rayTagOf(0x7ffffffeu), 0x7fffffff);
    EXPECT_EQ(VR::VRayCore::rayTagOf(0x7fffffffu), 1);
    EXPECT_EQ(VR::VRayCore::rayTagOf(0xffffffffull), VR::VRayCore::rayTagOf(0xffffffffull - 1) + 1);
    EXPECT_EQ(VR::VRayCore::rayTagOf(0x100000000ull), VR::VRayCore::rayTagOf(0xffffffffull) + 1);
}

} // namespace
