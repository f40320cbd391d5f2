// Gathering from particle systems: simple particles (alive ones, radii or the radius, velocity
// over the segment) and particle flow (event filter, channel requests, pairing by id across a
// segment and the speed filter).
#include "gather_fixture.h"

#include <vector>

namespace velquin::gathertest {
namespace {

// ---- simple particles ----

class GatherSimpleParticlesTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;
    DataParticleObject* sys = nullptr;

    void SetUp() override {
        sys = new DataParticleObject();
        SimpleParticleRecord a; // alive throughout
        a.position = {1, 0, 0};
        a.velocity = {0.125f, 0, 0};
        a.radius = 2.0f;
        SimpleParticleRecord dies = a; // dead by 80 (age -1)
        dies.death = 40;
        SimpleParticleRecord late = a; // not born by 80
        late.birth = 100;
        SimpleParticleRecord still;
        still.position = {0, 3, 0};
        still.radius = 0.5f;
        sys->particles = {a, dies, late, still};
        pb.addNode(scene.CreateNode(sys));
        buffers.baseSize = 6.0f;
    }
};

TEST_F(GatherSimpleParticlesTest, AliveParticlesWithTheirRadiiAndBlack) {
    Gathered g;
    gatherStill(g, buffers, pb.get(), 80, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(11, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(0, 3, 0));
    EXPECT_EQ(g.sizes[0], 2.0);
    EXPECT_EQ(g.sizes[1], 0.5);
    EXPECT_EQ(g.col(0), Point3(0, 0, 0));
    EXPECT_EQ(g.col(1), Point3(0, 0, 0));
}

TEST_F(GatherSimpleParticlesTest, WithoutRadiiEveryParticleGetsTheRadius) {
    sys->hasRadii = false;
    Gathered g;
    gatherStill(g, buffers, pb.get(), 80, true, false);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.sizes[0], 6.0);
    EXPECT_EQ(g.sizes[1], 6.0);
}

TEST_F(GatherSimpleParticlesTest, MovingDisplacementIsVelocityTimesSegmentLength) {
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 80, 160, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(11, 0, 0));
    EXPECT_EQ(g.disp(0), Point3(10, 0, 0));
    EXPECT_EQ(g.disp(1), Point3(0, 0, 0));
    EXPECT_EQ(g.sizes[0], 2.0);
    EXPECT_EQ(g.sizeDeltas[0], 0.0);
    EXPECT_EQ(g.sizeDeltas[1], 0.0);
    EXPECT_EQ(g.col(1), Point3(0, 0, 0));
}

TEST_F(GatherSimpleParticlesTest, ObjectsWithoutTheInterfaceAreRefused) {
    INode* mesh = scene.CreateNode(new TriObject(pointsMesh({{1, 1, 1}})));
    EXPECT_FALSE(gatherSimpleParticles(buffers, mesh, 0));
    EXPECT_FALSE(gatherSimpleParticlesMoving(buffers, mesh, 0, 80));
    EXPECT_EQ(buffers.positions.Count(), 0);
}

// ---- particle flow on the host's system ----

FlowParticleRecord flowRecord(int id, int event, Point3 pos, Point3 vel = {}) {
    FlowParticleRecord r;
    r.id = id;
    r.event = event;
    r.position = pos;
    r.velocity = vel;
    r.size = 1.5f;
    r.color = {0.25f * static_cast<float>(id), 0, 1};
    return r;
}

class GatherFlowTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;
    PFlowSystemObject* sys = nullptr;
    INode* sysNode = nullptr;
    INode* ev0 = nullptr;
    INode* ev1 = nullptr;

    void SetUp() override {
        sys = new PFlowSystemObject();
        sysNode = scene.CreateNode(sys, "PF Source");
        ev0 = sys->AddEvent(scene, "Event 0");
        ev1 = sys->AddEvent(scene, "Event 1");
        pb.addNode(sysNode);
    }
};

TEST_F(GatherFlowTest, EventsInOrderOfFirstAppearanceAndTheEventFilter) {
    sys->particles = {flowRecord(10, 1, {1, 0, 0}), flowRecord(11, 0, {2, 0, 0}),
                      flowRecord(12, 1, {3, 0, 0})};
    Gathered all;
    gatherStill(all, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(all.count, 3);
    EXPECT_EQ(all.pos(0), Point3(1, 0, 0));
    EXPECT_EQ(all.pos(1), Point3(3, 0, 0));
    EXPECT_EQ(all.pos(2), Point3(2, 0, 0));
    EXPECT_EQ(all.sizes[2], 1.5);
    EXPECT_EQ(all.col(1), Point3(3, 0, 1));

    pb->SetValue(pb_allPflow, 0, 0);
    Gathered none;
    gatherStill(none, buffers, pb.get(), 0, true, true);
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.count, 0);

    pb.addEvent(ev0);
    Gathered one;
    gatherStill(one, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(one.count, 1);
    EXPECT_EQ(one.pos(0), Point3(2, 0, 0));
}

TEST_F(GatherFlowTest, AMissingChannelEndsCollectionKeepingWhatWasGathered) {
    INode* ev2 = sys->AddEvent(scene, "Event 2");
    sys->GetEvent(0)->Container().hasColor = false;
    sys->particles = {flowRecord(1, 1, {1, 0, 0}), flowRecord(2, 0, {2, 0, 0}),
                      flowRecord(3, 2, {3, 0, 0})};
    ASSERT_NE(ev2, nullptr);
    Gathered colored;
    gatherStill(colored, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(colored.count, 1);
    EXPECT_EQ(colored.pos(0), Point3(1, 0, 0));

    // The colour channel is only asked for with colours on.
    Gathered plain;
    gatherStill(plain, buffers, pb.get(), 0, true, false);
    EXPECT_EQ(plain.count, 3);
}

// Ids out of record order; 5 is born and 4 dies inside [0, 80]; 9 leaves event 0 for event 1.
class GatherFlowSegmentTest : public GatherFlowTest {
protected:
    void SetUp() override {
        GatherFlowTest::SetUp();
        FlowParticleRecord fast = flowRecord(7, 0, {0, 0, 0}, {0.125f, 0, 0}); // 10 in 80 ticks
        FlowParticleRecord still = flowRecord(3, 0, {5, 5, 5});
        FlowParticleRecord born = flowRecord(5, 0, {0, 1, 0});
        born.birth = 40;
        FlowParticleRecord dies = flowRecord(4, 0, {0, 2, 0});
        dies.death = 40;
        FlowParticleRecord moves = flowRecord(9, 0, {0, 0, 9}, {0, 0.25f, 0}); // speed 40
        moves.nextEvent = 1;
        moves.switchTime = 40;
        sys->particles = {fast, still, born, dies, moves};
    }
    Gathered& segment(float threshold) {
        results.emplace_back(std::make_unique<Gathered>());
        buffers.velocityThreshold = threshold;
        gatherSegment(*results.back(), buffers, pb.get(), 0, 80, true, true);
        return *results.back();
    }
    std::vector<std::unique_ptr<Gathered>> results;
};

TEST_F(GatherFlowSegmentTest, PairedByIdAcrossTheSegment) {
    Gathered& g = segment(-1.0f);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 3);
    EXPECT_EQ(g.pos(0), Point3(5, 5, 5)); // id 3
    EXPECT_EQ(g.disp(0), Point3(0, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(0, 0, 0)); // id 7
    EXPECT_EQ(g.disp(1), Point3(10, 0, 0));
    EXPECT_EQ(g.col(1), Point3(1.75f, 0, 1));
    EXPECT_EQ(g.sizes[1], 1.5);
    EXPECT_EQ(g.sizeDeltas[1], 0.0);
    EXPECT_EQ(g.disp(2), Point3(0, 20, 0)); // id 9, in event 1 at the end

    // Only event 0 collected: particle 9 is gone from it by the end.
    pb->SetValue(pb_allPflow, 0, 0);
    pb.addEvent(ev0);
    Gathered& filtered = segment(-1.0f);
    EXPECT_EQ(filtered.count, 2);
}

TEST_F(GatherFlowSegmentTest, SpeedFilter) {
    EXPECT_EQ(flowParticleSpeed({10, 0, 0}, 0, 80), 20.0f);
    EXPECT_EQ(segment(-1.0f).count, 3);
    Gathered& at25 = segment(25.0f); // ids 3 (speed 0) and 7 (20) pass, 9 (40) does not
    ASSERT_EQ(at25.count, 2);
    EXPECT_EQ(at25.disp(1), Point3(10, 0, 0));
    Gathered& at20 = segment(20.0f); // 20 is not below 20
    ASSERT_EQ(at20.count, 1);
    EXPECT_EQ(at20.pos(0), Point3(5, 5, 5));
    EXPECT_EQ(segment(0.0f).count, 0); // every speed is at least 0
}

TEST_F(GatherFlowSegmentTest, StillFramesAndEmptySegmentsNeverFilter) {
    buffers.velocityThreshold = 0.0f;
    Gathered still;
    gatherStill(still, buffers, pb.get(), 0, false, false);
    EXPECT_EQ(still.count, 4); // 3, 4, 7, 9 alive at 0
    Gathered empty;
    gatherSegment(empty, buffers, pb.get(), 80, 80, false, false);
    EXPECT_EQ(empty.count, 4); // 3, 5, 7, 9 alive at 80
}

// ---- particle flow through stand-in interfaces that record what they are asked ----

struct ChannelRequest {
    Interface_ID id;
    Class_ID cls;
    bool transient;
    Interface_ID read, write;
    bool priv;
    INode* actionNode;
    Object* owner;
    void* param;
};

class RecordingContainer : public IObject {
public:
    std::vector<int> ids;
    std::vector<Point3> positions, sizes, colors;
    bool hasIds = true;
    std::vector<ChannelRequest> requests;

    BaseInterface* GetInterface(Interface_ID id) override {
        if (id == PARTICLECHANNELIDR_INTERFACE)
            return hasIds ? &idChannel_ : nullptr;
        if (id == CHANNELCONTAINER_INTERFACE)
            return &channels_;
        return nullptr;
    }

private:
    struct IdChannel : IParticleChannelIDR {
        RecordingContainer* c;
        mutable ParticleID tmp;
        explicit IdChannel(RecordingContainer* o) : c(o) {}
        int Count() const override { return static_cast<int>(c->ids.size()); }
        const ParticleID& GetID(int i) const override {
            tmp = {i, c->ids[static_cast<size_t>(i)]};
            return tmp;
        }
    };
    struct Values : IParticleChannelPoint3R {
        std::vector<Point3>* v;
        explicit Values(std::vector<Point3>* d) : v(d) {}
        int Count() const override { return static_cast<int>(v->size()); }
        const Point3& GetValue(int i) const override { return (*v)[static_cast<size_t>(i)]; }
    };
    struct Channels : IChannelContainer {
        RecordingContainer* c;
        explicit Channels(RecordingContainer* o) : c(o) {}
        BaseInterface* EnsureInterface(Interface_ID id, Class_ID cls, bool transient,
                                       Interface_ID read, Interface_ID write, bool priv,
                                       INode* actionNode, Object* owner, void* param) override {
            c->requests.push_back(
                {id, cls, transient, read, write, priv, actionNode, owner, param});
            switch (id.PartA()) {
            case PARTICLECHANNELPOSITION_X:
                return &c->pos_;
            case PARTICLECHANNELSIZEVECTOR_X:
                return &c->size_;
            case PARTICLECHANNELCOLORVECTOR_X:
                return &c->col_;
            default:
                return nullptr;
            }
        }
    };
    IdChannel idChannel_{this};
    Values pos_{&positions}, size_{&sizes}, col_{&colors};
    Channels channels_{this};
};

// An event whose container is filled by `fill` at every update.
class FakeGroup : public GeomObject, public IParticleGroup {
public:
    RecordingContainer container;
    std::function<void(TimeValue, RecordingContainer&)> fill;
    std::vector<TimeValue> updates;

    Class_ID ClassID() override { return Class_ID(0x56519002, 0); }
    void GetClassName(MSTR& s) override { s = "Fake Group"; }
    void* GetInterface(ULONG id) override { return GeomObject::GetInterface(id); }
    BaseInterface* GetInterface(Interface_ID id) override {
        return id == PARTICLEGROUP_INTERFACE ? static_cast<IParticleGroup*>(this) : nullptr;
    }
    Interface_ID GetID() override { return PARTICLEGROUP_INTERFACE; }
    IObject* GetParticleContainer() override { return &container; }
    void Update(TimeValue t) override {
        updates.push_back(t);
        if (fill)
            fill(t, container);
    }
    INode* GetParticleSystem() override { return nullptr; }
};

// A system whose particles belong to the given event nodes.
class FakeSystem : public GeomObject, public IParticleObjectExt {
public:
    std::vector<INode*> particleGroups;
    std::vector<TimeValue> updates;

    Class_ID ClassID() override { return Class_ID(0x56519003, 0); }
    void GetClassName(MSTR& s) override { s = "Fake System"; }
    int IsParticleSystem() override { return TRUE; }
    void* GetInterface(ULONG id) override { return GeomObject::GetInterface(id); }
    BaseInterface* GetInterface(Interface_ID id) override {
        return id == PARTICLEOBJECTEXT_INTERFACE ? static_cast<IParticleObjectExt*>(this) : nullptr;
    }
    Interface_ID GetID() override { return PARTICLEOBJECTEXT_INTERFACE; }
    bool UpdateParticles(INode*, TimeValue t) override {
        updates.push_back(t);
        return true;
    }
    int NumParticles() override { return static_cast<int>(particleGroups.size()); }
    INode* GetParticleGroup(int i) override { return particleGroups[static_cast<size_t>(i)]; }
    int GetParticleBornIndex(int i) override { return i; }
};

class GatherFlowInterfacesTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;
    FakeSystem* sys = new FakeSystem();
    FakeGroup* group = new FakeGroup();
    INode* sysNode = scene.CreateNode(sys, "system");
    INode* groupNode = scene.CreateNode(group, "event");
    INode* emptyEvent = scene.CreateNode(nullptr, "no object");

    void SetUp() override { pb.addNode(sysNode); }
};

TEST_F(GatherFlowInterfacesTest, ChannelsAreRequestedWithTheFlowIdentifiers) {
    group->fill = [](TimeValue, RecordingContainer& c) {
        c.ids = {4};
        c.positions = {{1, 2, 3}};
        c.sizes = {{2.5f, 9, 9}};
        c.colors = {{0.5f, 0.25f, 1}};
    };
    sys->particleGroups = {groupNode, groupNode};
    Gathered g;
    gatherStill(g, buffers, pb.get(), 160, true, true);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.sizes[0], 2.5); // the size vector's first component
    EXPECT_EQ(g.col(0), Point3(0.5f, 0.25f, 1));
    EXPECT_EQ(sys->updates, std::vector<TimeValue>({160}));
    EXPECT_EQ(group->updates, std::vector<TimeValue>({160})); // the event once, not per particle

    const ULONG order[] = {PARTICLECHANNELCOLORVECTOR_X, PARTICLECHANNELSIZEVECTOR_X,
                           PARTICLECHANNELPOSITION_X};
    const auto& req = group->container.requests;
    ASSERT_EQ(req.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const ChannelRequest& r = req[static_cast<size_t>(k)];
        EXPECT_EQ(r.id, Interface_ID(order[k], 0x1EB34500)) << k;
        EXPECT_EQ(r.cls, Class_ID(0x74F93B07, 0x1EB34100));
        EXPECT_TRUE(r.transient);
        EXPECT_EQ(r.read, Interface_ID(order[k], 0x1EB34500));
        EXPECT_EQ(r.write, Interface_ID(order[k], 0x1EB34501));
        EXPECT_TRUE(r.priv);
        EXPECT_EQ(r.actionNode, nullptr);
        EXPECT_EQ(r.owner, nullptr);
        EXPECT_EQ(r.param, nullptr);
    }
}

TEST_F(GatherFlowInterfacesTest, EventNodeWithoutObjectIsSkipped) {
    group->fill = [](TimeValue, RecordingContainer& c) {
        c.ids = {1, 2};
        c.positions = {{1, 0, 0}, {2, 0, 0}};
        c.sizes = c.colors = {{1, 1, 1}, {1, 1, 1}};
    };
    sys->particleGroups = {emptyEvent, groupNode, nullptr};
    Tab<INode*> events;
    Tab<FlowParticle> records;
    collectFlowParticles(sys, events, records, true, false, false, 0);
    ASSERT_EQ(records.Count(), 2);
    EXPECT_EQ(records[1].id, 2);
    EXPECT_EQ(records[1].position, Point3(2, 0, 0));
}

TEST_F(GatherFlowInterfacesTest, MissingIdChannelEndsCollection) {
    group->container.hasIds = false;
    sys->particleGroups = {groupNode};
    Tab<INode*> events;
    Tab<FlowParticle> records;
    collectFlowParticles(sys, events, records, true, true, true, 0);
    EXPECT_EQ(records.Count(), 0);
    EXPECT_TRUE(group->container.requests.empty());
}

TEST_F(GatherFlowInterfacesTest, SizeDeltaFromTheSegmentsEnd) {
    group->fill = [](TimeValue t, RecordingContainer& c) {
        c.ids = {8, 2};
        c.positions = {{0, 0, 0}, {1, 0, 0}};
        float s = t == 0 ? 2.0f : 3.25f;
        c.sizes = {{s, 0, 0}, {1, 0, 0}};
        c.colors.clear(); // only asked for at the start
        if (t == 0)
            c.colors = {{1, 0, 0}, {0, 1, 0}};
    };
    sys->particleGroups = {groupNode};
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.col(0), Point3(0, 1, 0)); // id 2 first after sorting
    EXPECT_EQ(g.sizes[1], 2.0);
    EXPECT_EQ(g.sizeDeltas[1], 1.25);
    EXPECT_EQ(sys->updates, std::vector<TimeValue>({0, 80}));
}

} // namespace
} // namespace velquin::gathertest
