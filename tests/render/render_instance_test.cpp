// The render instances: instance choice, the frame compile's arithmetic and order, the per-thread
// tables, registration and expansion, the intersection data and the shading parts.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <latch>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "render/FrameCompile.h"
#include "render_fixture.h"

// One-shot failure of the non-throwing allocation, to see instance creation run out of memory.
namespace {
std::atomic<bool> gFailNextNothrowNew{false};
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (gFailNextNothrowNew.exchange(false)) {
        return nullptr;
    }
    try {
        return ::operator new(n);
    } catch (...) {
        return nullptr;
    }
}

namespace velquin {
namespace {

using namespace rendertest;

// ---- arithmetic ----

TEST(MotionSegments, EqualStepsTruncated) {
    // 0..160 with "mbSamples" 3: two segments of 80.
    EXPECT_EQ(segmentStep(0, 160, 2), 80);
    EXPECT_EQ(motionSegment(0, 80, 0).ts, 0);
    EXPECT_EQ(motionSegment(0, 80, 0).te, 80);
    EXPECT_EQ(motionSegment(0, 80, 1).ts, 80);
    EXPECT_EQ(motionSegment(0, 80, 1).te, 160);
    // 0..100 with "mbSamples" 4: step 33, the last segment ends at 99.
    const TimeValue step = segmentStep(0, 100, 3);
    EXPECT_EQ(step, 33);
    EXPECT_EQ(motionSegment(0, step, 0).te, 33);
    EXPECT_EQ(motionSegment(0, step, 1).te, 66);
    EXPECT_EQ(motionSegment(0, step, 2).ts, 66);
    EXPECT_EQ(motionSegment(0, step, 2).te, 99);
    // The quotient is formed in single precision: 16777217 ticks read as 16777216.
    EXPECT_EQ(segmentStep(0, 16777217, 1), 16777216);
    // Offsets start at the interval's start.
    EXPECT_EQ(motionSegment(-80, 80, 1).ts, 0);
}

TEST(MotionSegments, NoSegmentCountDividesByZero) {
    EXPECT_EQ(compiledSegmentCount(0), 1);
    EXPECT_EQ(compiledSegmentCount(-3), 1);
    EXPECT_EQ(compiledSegmentCount(4), 4);
    EXPECT_EQ(segmentStep(0, 160, 0), 160);
    EXPECT_EQ(segmentStep(100, 100, 159), 0); // an empty interval
    EXPECT_EQ(segmentStep(160, 0, 2), -80);   // reversed: no conversion out of range either
}

TEST(MotionSegments, TicksTruncateTowardZero) {
    EXPECT_EQ(truncateTicks(159.99), 159);
    EXPECT_EQ(truncateTicks(-80.5), -80);
    EXPECT_EQ(truncateTicks(std::nan("")), 0);
    EXPECT_EQ(truncateTicks(1e30), INT_MAX);
    EXPECT_EQ(truncateTicks(-1e30), INT_MIN);
}

TEST(InstanceChoice, MotionBlurSwitchAndSamples) {
    EXPECT_FALSE(wantsMovingInstance(0, 5));
    EXPECT_FALSE(wantsMovingInstance(0, 1));
    EXPECT_FALSE(wantsMovingInstance(1, 1));
    EXPECT_TRUE(wantsMovingInstance(1, 2));
    EXPECT_TRUE(wantsMovingInstance(7, 160));
}

TEST(ColourKernel, FromColorEntry) {
    EXPECT_EQ(colourKernelFor(0, 1), -2); // none
    EXPECT_EQ(colourKernelFor(1, 1), 1);  // same as the surface
    EXPECT_EQ(colourKernelFor(1, 6), 6);
    EXPECT_EQ(colourKernelFor(5, 1), 3); // "Power of five"
    EXPECT_EQ(colourKernelFor(8, 0), 6);
}

// ---- reading the parameters ----

TEST(ReadRenderParams, DefaultsAndOrderOfDerivedValues) {
    RenderBlock pb;
    MetaballRenderParams p;
    FrameSwitches s;
    readRenderParams(pb.get(), 0, false, p, s);
    EXPECT_EQ(p.radius, 20.0f);
    EXPECT_EQ(p.threshold, 0.5f);
    EXPECT_EQ(p.error, 0x1.a36e2ep-14f);
    EXPECT_EQ(p.fieldFunction, 1);
    EXPECT_EQ(p.colourKernel, 0); // "color" as read, before the rewrite
    EXPECT_EQ(p.leafSize, 30.0f);
    EXPECT_EQ(p.depth, 15);
    EXPECT_EQ(p.clampTo, 1.0f);
    EXPECT_EQ(p.texmap, nullptr);
    EXPECT_EQ(p.segmentCount, 0); // not set by a still frame
    EXPECT_FALSE(s.useColor);
    EXPECT_FALSE(s.useScale);

    pb->SetValue(pb_mbSamples, 0, 5);
    pb->SetValue(pb_velocityThreshold, 0, 3.5f);
    pb->SetValue(pb_color, 0, 5);
    pb->SetValue(pb_useScale, 0, 1);
    readRenderParams(pb.get(), 0, true, p, s);
    EXPECT_EQ(p.segmentCount, 4);
    EXPECT_EQ(s.velocityThreshold, 3.5f);
    EXPECT_EQ(s.color, 5);
    EXPECT_TRUE(s.useColor);
    EXPECT_TRUE(s.useScale);
}

TEST(ReadRenderParams, ClampToRaisedAboveThreshold) {
    RenderBlock pb;
    MetaballRenderParams p;
    FrameSwitches s;
    pb->SetValue(pb_clampTo, 0, 0.4f);
    readRenderParams(pb.get(), 0, false, p, s);
    EXPECT_EQ(p.clampTo, 0x1.008312p-1f); // 0.5f + 0.001f in single precision
    pb->SetValue(pb_clampTo, 0, 0.5f);    // equal is not above
    readRenderParams(pb.get(), 0, false, p, s);
    EXPECT_EQ(p.clampTo, 0x1.008312p-1f);
    pb->SetValue(pb_clampTo, 0, 0.50001f);
    readRenderParams(pb.get(), 0, false, p, s);
    EXPECT_EQ(p.clampTo, 0.50001f);
}

TEST(ReadRenderParams, TextureCutOffAndUpdate) {
    RenderBlock pb;
    ConstantTexmap map(0.5f);
    pb->SetValue(pb_texmap, 0, static_cast<Texmap*>(&map));
    MetaballRenderParams p;
    FrameSwitches s;

    pb->SetValue(pb_textureStr, 0, 0.0001f); // exactly the cut-off: left out
    readRenderParams(pb.get(), 40, false, p, s);
    EXPECT_EQ(p.texmap, nullptr);
    EXPECT_EQ(map.UpdateCount(), 0);

    pb->SetValue(pb_textureStr, 0, 0.00011f);
    readRenderParams(pb.get(), 40, false, p, s);
    EXPECT_EQ(p.texmap, &map);
    EXPECT_EQ(map.UpdateCount(), 1);
    EXPECT_EQ(map.LastUpdateTime(), 40);

    pb->SetValue(pb_useTexture, 0, 0);
    readRenderParams(pb.get(), 40, false, p, s);
    EXPECT_EQ(p.texmap, nullptr);
    EXPECT_EQ(map.UpdateCount(), 1);
    pb->SetValue(pb_texmap, 0, nullptr);
}

// ---- instances ----

class InstanceTest : public ::testing::Test {
protected:
    InstanceTest() : object(pb.get()) {}
    ~InstanceTest() override {
        if (instance != nullptr) {
            object.destroyRenderInstance(instance);
        }
    }
    void make(TestRenderer& r) {
        instance = object.createRenderInstance(metaballNode, &r.core, 7);
        ASSERT_NE(instance, nullptr);
    }
    VelquinMetaballInstanceStatic* still() {
        return dynamic_cast<VelquinMetaballInstanceStatic*>(instance);
    }
    VelquinMetaballInstanceMoving* movingInst() {
        return dynamic_cast<VelquinMetaballInstanceMoving*>(instance);
    }
    void compileFrame(TestRenderer& r, TimeValue t) {
        r.setFrame(t, t, t + 160.0);
        instance->frameBegin(t, &r.core);
        instance->registerGeometry(&r.core);
    }

    Scene scene;
    RenderBlock pb;
    TestRenderObject object;
    INode* metaballNode = scene.CreateNode(nullptr, "Metaball");
    VRenderInstance* instance = nullptr;
};

TEST_F(InstanceTest, ChoiceFollowsSwitchAndSamplesAtTimeZero) {
    {
        TestRenderer r(1, false);
        pb->SetValue(pb_mbSamples, 0, 5);
        make(r);
        ASSERT_NE(still(), nullptr);
        EXPECT_EQ(still()->moving, 0);
        EXPECT_EQ(instance->GetINode(), metaballNode);
        EXPECT_EQ(instance->getRenderObject(), &object);
        EXPECT_EQ(instance->getRenderID(), 7);
        object.destroyRenderInstance(instance);
    }
    {
        TestRenderer r(1, true);
        pb->SetValue(pb_mbSamples, 0, 1);
        make(r);
        EXPECT_NE(still(), nullptr);
        object.destroyRenderInstance(instance);
    }
    {
        TestRenderer r(1, true);
        pb->SetValue(pb_mbSamples, 0, 2);
        make(r);
        ASSERT_NE(movingInst(), nullptr);
        EXPECT_EQ(movingInst()->moving, 1);
        // A new instance holds nothing yet.
        EXPECT_EQ(movingInst()->hitTables, nullptr);
        EXPECT_EQ(movingInst()->hitTableCount, 0);
        EXPECT_EQ(movingInst()->registeredId.load(), -1);
        EXPECT_EQ(movingInst()->primitive.segmentPositions, nullptr);
    }
}

TEST_F(InstanceTest, OutOfMemoryGivesNull) {
    TestRenderer r(1, false);
    gFailNextNothrowNew = true;
    EXPECT_EQ(object.createRenderInstance(metaballNode, &r.core, 0), nullptr);
    gFailNextNothrowNew = false;
    destroyMetaballRenderInstance(nullptr); // ignored
}

TEST_F(InstanceTest, TablesPerRenderThread) {
    TestRenderer r(3);
    make(r);
    auto* inst = still();
    instance->renderBegin(0, &r.core);
    ASSERT_EQ(inst->hitTableCount, 3);
    HitRecordTable* first = inst->hitTables[0];
    // A frame compile keeps the tables and marks every record stale.
    const float data[6] = {1, 2, 3, 4, 5, 6};
    storeHitRecord(inst->hitTables, 3, 0, 4, 99, data);
    compileFrame(r, 0);
    EXPECT_EQ(inst->hitTables[0], first);
    EXPECT_EQ(inst->hitTables[0]->count(), 5);
    EXPECT_EQ(inst->hitTables[0]->at(4).key, 0);
    EXPECT_EQ(inst->primitive.hitTable, inst->hitTables);
    instance->frameEnd(&r.core);
    instance->renderEnd(&r.core);
    EXPECT_EQ(inst->hitTables, nullptr);
    EXPECT_EQ(inst->hitTableCount, 0);
    EXPECT_EQ(inst->primitive.hitTable, nullptr);
    // A compile without a render bracket makes its own tables.
    compileFrame(r, 0);
    EXPECT_EQ(inst->hitTableCount, 3);
}

TEST_F(InstanceTest, TransformsAndEmptyMesh) {
    Matrix3 tm = ScaleMatrix(Point3(2.0f, 2.0f, 2.0f));
    tm.SetTrans(Point3(5.0f, -3.0f, 1.0f));
    metaballNode->SetNodeTMConstant(tm);
    TestRenderer r(1);
    r.core.frameData.worldToCam = TransMatrix(Point3(0.0f, 0.0f, -100.0f));
    r.core.frameData.camToWorld = TransMatrix(Point3(0.0f, 0.0f, 100.0f));
    make(r);
    auto* inst = still();
    compileFrame(r, 0);
    EXPECT_EQ(inst->objToWorldTM, tm);
    EXPECT_EQ(inst->worldToObjTM, tm.Inverse());
    EXPECT_EQ(inst->objToWorld, tm);
    EXPECT_EQ(inst->objToCam, tm * r.core.frameData.worldToCam);
    EXPECT_EQ(inst->camToObj, r.core.frameData.camToWorld * tm.Inverse());
    EXPECT_EQ(inst->mesh, &inst->emptyMesh);
    EXPECT_EQ(inst->emptyMesh.numVerts, 0);
    EXPECT_EQ(inst->MeshValidity(), FOREVER);
    // Texture bases are the unit axes of the object transform.
    VR::VRayContext rc;
    VR::Vector bases[3];
    inst->getUVWbases(rc, 1, bases);
    EXPECT_EQ(bases[0], Point3(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(bases[2], Point3(0.0f, 0.0f, 1.0f));
    VR::Vector derivs[2];
    inst->getUVWderivs(rc, 1, derivs);
    EXPECT_EQ(derivs[1], Point3(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(inst->getUVWnormal(rc, 1), Point3(0.0f, 0.0f, 1.0f));
    EXPECT_EQ(inst->getUVWcoords(rc, 1), Point3(0.0f, 0.0f, 0.0f));
    Point3 untouched[3] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
    inst->GetFaceVertNormals(0, untouched);
    EXPECT_EQ(untouched[1], Point3(9, 9, 9));
    EXPECT_EQ(inst->GetFaceNormal(3), Point3(0.0f, 0.0f, 1.0f));
    EXPECT_EQ(inst->Execute(1), 0);
}

TEST_F(InstanceTest, InterfacesAndShadeData) {
    TestRenderer r(1);
    make(r);
    auto* inst = still();
    VR::GenericPrimitive* part = inst->dynamicPart();
    EXPECT_EQ(part->getInterface(0xFFFF0002u),
              static_cast<void*>(static_cast<VR::ShadeData*>(inst)));
    EXPECT_EQ(part->getInterface(0xFFFF0001u),
              static_cast<void*>(static_cast<VR::ShadeInstance*>(inst)));
    EXPECT_EQ(part->getInterface(2006012001u),
              static_cast<void*>(static_cast<VR::ObjectShadeInstance*>(inst)));
    EXPECT_EQ(part->getInterface(0xFFFF0003u),
              static_cast<void*>(static_cast<VR::SurfaceProperties*>(instance)));
    EXPECT_EQ(part->getInterface(0x12345678u), nullptr);
    // Every part routes the same way.
    auto* sp = static_cast<VR::SurfaceProperties*>(instance);
    EXPECT_EQ(sp->getInterface(0xFFFF0002u), part->getInterface(0xFFFF0002u));
    EXPECT_EQ(VR::queryInterface<VR::ShadeData>(static_cast<VR::ShadeData*>(inst), 0xFFFF0002u)
                  ->getShadeDataType(),
              7);

    VR::VRayContext rc;
    rc.rayresult.normal = Point3(0.0f, 0.6f, 0.8f);
    EXPECT_EQ(inst->getNormal(rc), Point3(0.0f, 0.6f, 0.8f));
    rc.rayresult.side = 1;
    EXPECT_EQ(inst->getNormal(rc), Point3(-0.0f, -0.6f, -0.8f));
    // Object space is world space for this surface.
    EXPECT_EQ(inst->worldToObjectPt(rc, Point3(1, 2, 3)), Point3(1, 2, 3));
    EXPECT_EQ(inst->objectToWorldVec(rc, Point3(1, 2, 3)), Point3(1, 2, 3));
    EXPECT_EQ(dynamic_cast<VR::Shadeable*>(instance), part->getShadeable(rc));
}

// A ray server that records what expansion asks of it, safe from several threads.
class RecordingRayServer : public VR::RayServerInterface {
public:
    int newRenderID() override { return 500; }
    void storeDynamicStaticPrimitive(VR::DynamicPrimitive<VR::StaticBox>* p,
                                     VR::GenericPrimitive* owner, int id) override {
        stored = p;
        storedOwner = owner;
        storedId = id;
    }
    void storeDynamicMovingPrimitive(VR::DynamicPrimitive<VR::MovingBox>* p,
                                     VR::GenericPrimitive* owner, int id) override {
        stored = p;
        storedOwner = owner;
        storedId = id;
    }
    int newPrimitiveID(int, VR::GenericPrimitive*) override { return nextId.fetch_add(1); }
    void insertPrimitive(int thread, VR::GenericPrimitive* primitive, VR::GenericPrimitive* owner,
                         int id) override {
        std::lock_guard<std::mutex> lock(mutex);
        inserts.push_back({thread, primitive, owner, id});
    }
    void removePrimitive(int thread, VR::GenericPrimitive* primitive) override {
        std::lock_guard<std::mutex> lock(mutex);
        removes.push_back({thread, primitive, nullptr, 0});
    }
    struct Call {
        int thread;
        VR::GenericPrimitive* primitive;
        VR::GenericPrimitive* owner;
        int id;
    };
    std::atomic<int> nextId{100};
    std::mutex mutex;
    std::vector<Call> inserts, removes;
    VR::GenericPrimitive* stored = nullptr;
    VR::GenericPrimitive* storedOwner = nullptr;
    int storedId = -1;
};

TEST_F(InstanceTest, RegistrationAndExpansion) {
    RecordingRayServer server;
    TestRenderer r(2, true);
    r.core.sequenceData.rayserver = &server;
    make(r); // moving ("mbSamples" 2)
    auto* inst = movingInst();
    ASSERT_NE(inst, nullptr);
    inst->registeredId = 42;
    compileFrame(r, 0);
    EXPECT_EQ(inst->registeredId.load(), -1);
    EXPECT_EQ(server.stored, inst->dynamicPart());
    EXPECT_EQ(server.storedOwner, inst->dynamicPart());
    EXPECT_EQ(server.storedId, 500);

    inst->expandForThread(&server, 1);
    inst->expandForThread(&server, 0);
    ASSERT_EQ(server.inserts.size(), 2u);
    EXPECT_EQ(inst->registeredId.load(), 100);
    for (const auto& c : server.inserts) {
        EXPECT_EQ(c.primitive, &inst->primitive);
        EXPECT_EQ(c.owner, inst->dynamicPart());
        EXPECT_EQ(c.id, 100);
    }
    EXPECT_EQ(server.nextId.load(), 101); // one identifier for both threads
    inst->collapseForThread(&server, 1);
    ASSERT_EQ(server.removes.size(), 1u);
    EXPECT_EQ(server.removes[0].thread, 1);
    EXPECT_EQ(server.removes[0].primitive, &inst->primitive);
    // The embedded primitive answers the shading queries through its owner, this instance.
    EXPECT_EQ(inst->primitive.owner, inst->dynamicPart());
    EXPECT_EQ(inst->primitive.getRenderInstance(), instance);
}

TEST_F(InstanceTest, FirstExpansionFromTwoThreadsAgreesOnOneId) {
    RecordingRayServer server;
    TestRenderer r(2);
    r.core.sequenceData.rayserver = &server;
    make(r);
    auto* inst = still();
    compileFrame(r, 0);
    for (int round = 0; round < 200; ++round) {
        instance->registerGeometry(&r.core);
        server.inserts.clear();
        std::latch start(2);
        auto expand = [&](int thread) {
            start.arrive_and_wait();
            inst->expandForThread(&server, thread);
        };
        std::thread a(expand, 0), b(expand, 1);
        a.join();
        b.join();
        ASSERT_EQ(server.inserts.size(), 2u);
        EXPECT_EQ(server.inserts[0].id, server.inserts[1].id) << round;
        EXPECT_EQ(server.inserts[0].id, inst->registeredId.load()) << round;
    }
}

TEST_F(InstanceTest, IntersectionDataColourOnlyFromThisRaysRecord) {
    pb.setPoints(pb_metaballs, {Point3(0.0f, 0.0f, 0.0f)});
    pb.setPoints(pb_colors, {Point3(1.0f, 0.0f, 0.5f)});
    pb->SetValue(pb_color, 0, 2);
    TestRenderer r(2);
    make(r);
    auto* inst = still();
    instance->renderBegin(0, &r.core);
    compileFrame(r, 0);
    ASSERT_EQ(inst->primitive.count, 1);

    Traced hit = trace(r, 1, Point3(0.0f, 0.0f, -100.0f), Point3(0.0f, 0.0f, 1.0f), 0.5f, 2);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.result.metaballColorValid, 1);
    EXPECT_EQ(hit.result.metaballColor, Color(1.0f, 0.0f, 0.5f));
    EXPECT_EQ(hit.result.primitive, &inst->primitive);
    EXPECT_EQ(hit.result.sd, static_cast<VR::ShadeData*>(inst));
    EXPECT_EQ(hit.result.si, static_cast<VR::ShadeInstance*>(inst));
    EXPECT_EQ(hit.result.surfaceProps, static_cast<VR::SurfaceProperties*>(instance));
    EXPECT_EQ(hit.result.wpoint[2], -100.0 + hit.result.dist);
    EXPECT_EQ(inst->hitTables[1]->count(), 3); // slot 2 on thread 1
    EXPECT_EQ(inst->hitTables[0]->count(), 0);

    // The same hit asked for by a ray with another tag, or at a slot the table never reached,
    // has no colour: black, marked invalid.
    VR::VRayContext rc;
    rc.threadIndex = 1;
    rc.slot = 2;
    rc.rayTag = inst->hitTables[1]->at(2).key + 1;
    rc.ray.rc = &rc;
    rc.ray.nearestDist = 50.0;
    rc.ray.hitPrimitive = &inst->primitive;
    VR::RayResult result;
    result.metaballColor = Color(7.0f, 7.0f, 7.0f);
    inst->setIntersectionData(rc.ray, result);
    EXPECT_EQ(result.metaballColorValid, 0);
    EXPECT_EQ(result.metaballColor, Color(0.0f, 0.0f, 0.0f));
    rc.rayTag = inst->hitTables[1]->at(2).key;
    rc.slot = 3;
    inst->setIntersectionData(rc.ray, result);
    EXPECT_EQ(result.metaballColorValid, 0);
    rc.slot = 2;
    inst->setIntersectionData(rc.ray, result);
    EXPECT_EQ(result.metaballColorValid, 1);

    // "color" 0: no colour arrays and no colour in the result.
    pb->SetValue(pb_color, 0, 0);
    r.server.clearFrame();
    compileFrame(r, 160);
    EXPECT_EQ(inst->primitive.colors, nullptr);
    hit = trace(r, 0, Point3(0.0f, 0.0f, -100.0f), Point3(0.0f, 0.0f, 1.0f));
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.result.metaballColorValid, 0);
    r.server.clearFrame();
    instance->renderEnd(&r.core);
}

TEST_F(InstanceTest, MovingFrameGathersEachSegment) {
    TimeVertexObject* source = new TimeVertexObject();
    pb.addNode(scene.CreateNode(source, "Source"));
    pb->SetValue(pb_mbSamples, 0, 4);
    pb->SetValue(pb_color, 0, 1);
    TestRenderer r(1, true);
    make(r);
    auto* inst = movingInst();
    ASSERT_NE(inst, nullptr);
    r.setFrame(0, 0.9, 100.7); // truncated to 0 and 100
    instance->frameBegin(0, &r.core);
    const VelquinMetaballPrimitiveMoving& p = inst->primitive;
    ASSERT_EQ(p.segmentCount, 3);
    const float starts[3] = {0.0f, 33.0f, 66.0f};
    for (int s = 0; s < 3; ++s) {
        ASSERT_EQ(p.segmentCounts[s], 1) << s;
        EXPECT_EQ(p.segmentPositions[2 * s][0], starts[s]) << s;
        EXPECT_EQ(p.segmentPositions[2 * s + 1][0], 33.0f) << s; // the last ends at 99
        EXPECT_EQ(p.segmentSizes[2 * s], nullptr);               // no "useScale"
    }
    EXPECT_NE(p.colors, nullptr); // segment 0's colours

    // "mbSamples" animated down to 1 after the instance was made: one segment over the whole
    // interval, and the surface is still there.
    pb->SetValue(pb_mbSamples, 0, 1);
    pb->SetValue(pb_color, 0, 0);
    r.setFrame(160, 160.0, 320.0);
    instance->frameBegin(160, &r.core);
    instance->registerGeometry(&r.core);
    ASSERT_EQ(p.segmentCount, 1);
    EXPECT_EQ(p.segmentPositions[0][0], 160.0f);
    EXPECT_EQ(p.segmentPositions[1][0], 160.0f);
    EXPECT_EQ(p.colors, nullptr);
    Traced hit = trace(r, 0, Point3(160.0f, 0.0f, -100.0f), Point3(0.0f, 0.0f, 1.0f), 0.0f);
    EXPECT_TRUE(hit.hit);
    r.server.clearFrame();
}

} // namespace
} // namespace velquin
