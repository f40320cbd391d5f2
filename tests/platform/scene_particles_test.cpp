#include "host/max_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

namespace {

class SceneParticlesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCOREInterface(); }
    void TearDown() override { ResetCOREInterface(); }
    Scene& scene() { return GetCOREInterface()->GetScene(); }
};

SimpleParticle* simpleOf(INode* node, TimeValue t) {
    Object* obj = node->EvalWorldState(t).obj;
    return obj ? static_cast<SimpleParticle*>(obj->GetInterface(I_SIMPLEPARTICLEOBJ)) : nullptr;
}

TEST_F(SceneParticlesTest, EmitterAgesPositionsAndVelocities) {
    auto* em = new EmitterParticleObject();
    em->rate = 30.0f; // one particle per frame
    em->start = 0;
    em->end = 480;
    em->life = 320;
    em->speed = 16.0f; // units per frame
    em->hasRadii = false;
    INode* node = scene().CreateNode(em, "emitter");
    node->SetNodeTMConstant(TransMatrix(Point3(1, 2, 3)));
    EXPECT_TRUE(em->IsParticleSystem());

    SimpleParticle* sp = simpleOf(node, 400);
    ASSERT_NE(sp, nullptr);
    sp->Update(400, node);
    const ParticleSys& p = sp->parts;
    ASSERT_EQ(p.Count(), 3);  // born at 0, 160, 320; the next at 480 is not born yet
    EXPECT_EQ(p.ages[0], -1); // lived 320 ticks, dead at 320
    EXPECT_EQ(p.ages[1], 240);
    EXPECT_EQ(p.ages[2], 80);
    const float perTick = 16.0f / 160.0f;
    EXPECT_EQ(p.vels[1], Point3(0, 0, perTick));
    EXPECT_EQ(p.points[1], Point3(1, 2, 3.0f + perTick * 240.0f));
    EXPECT_EQ(p.points[0], Point3(1, 2, 3.0f + perTick * 320.0f)); // where it died
    EXPECT_EQ(p.radius.Count(), 0);

    // Emission stops at end: at 10000 every particle is dead.
    sp->Update(10000, node);
    ASSERT_EQ(sp->parts.Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(sp->parts.ages[i], -1);
}

TEST_F(SceneParticlesTest, EmitterIsDeterministicAndFollowsTheNode) {
    auto* em = new EmitterParticleObject();
    em->rate = 300.0f;
    em->spread = 30.0f;
    em->size = 2.0f;
    em->sizeVariation = 0.5f;
    em->life = 0; // never dies
    INode* node = scene().CreateNode(em, "emitter");
    node->SetNodeTMKey(0, TransMatrix(Point3(0, 0, 0)));
    node->SetNodeTMKey(4800, TransMatrix(Point3(100, 0, 0)));

    em->UpdateParticles(2400, node);
    ParticleSys first = em->parts;
    em->UpdateParticles(100, node); // another time in between changes nothing later
    em->UpdateParticles(2400, node);
    ASSERT_EQ(em->parts.Count(), first.Count());
    ASSERT_EQ(first.Count(), 151); // every 16 ticks from 0 to 2400
    const float cosSpread = std::cos(30.0f * 3.14159265f / 180.0f);
    for (int i = 0; i < first.Count(); ++i) {
        EXPECT_EQ(em->parts.points[i], first.points[i]);
        EXPECT_EQ(em->parts.vels[i], first.vels[i]);
        // Speed is fixed; the direction is tilted by at most the spread.
        EXPECT_NEAR(first.vels[i].Length(), 10.0f / 160.0f, 1e-6f);
        EXPECT_GE(Normalize(first.vels[i]).z, cosSpread - 1e-5f);
        EXPECT_GE(first.radius[i], 1.0f);
        EXPECT_LE(first.radius[i], 3.0f);
    }
    // The particle born at 1200 left from where the node was then.
    int k = 1200 / 16;
    Point3 start = first.points[k] - first.vels[k] * static_cast<float>(2400 - 1200);
    EXPECT_NEAR(start.x, 25.0f, 1e-3f);
    // A different seed makes different particles.
    em->seed = 99;
    em->UpdateParticles(2400, node);
    EXPECT_NE(em->parts.vels[5], first.vels[5]);
}

TEST_F(SceneParticlesTest, LoadedDataListsBornParticles) {
    auto* data = new DataParticleObject();
    data->particles.push_back({0, 100, Point3(0, 0, 0), Point3(1, 0, 0), 0.5f});
    data->particles.push_back({50, TIME_PosInfinity, Point3(0, 1, 0), Point3(0, 0, 2), 0.25f});
    data->particles.push_back({500, 600, Point3(), Point3(), 1.0f});
    INode* node = scene().CreateNode(data, "data");
    SimpleParticle* sp = simpleOf(node, 0);
    ASSERT_NE(sp, nullptr);
    sp->UpdateParticles(100, node);
    ASSERT_EQ(sp->parts.Count(), 2);
    EXPECT_EQ(sp->parts.ages[0], -1); // dies at 100
    EXPECT_EQ(sp->parts.ages[1], 50);
    EXPECT_EQ(sp->parts.points[1], Point3(0, 1, 100));
    EXPECT_EQ(sp->parts.radius[1], 0.25f);
    EXPECT_EQ(data->ObjectValidity(100), Interval(100, 100));
}

TEST_F(SceneParticlesTest, OnlyParticleSystemsAnswerTheParticleInterfaces) {
    SphereObject sphere;
    EXPECT_FALSE(sphere.IsParticleSystem());
    EXPECT_EQ(sphere.GetInterface(I_SIMPLEPARTICLEOBJ), nullptr);
    EXPECT_EQ(sphere.GetInterface(PARTICLEOBJECTEXT_INTERFACE), nullptr);
    EmitterParticleObject em;
    EXPECT_EQ(em.GetInterface(PARTICLEOBJECTEXT_INTERFACE), nullptr);
    EXPECT_FALSE(em.CanConvertToType(triObjectClassID));
    PFlowSystemObject pf;
    EXPECT_TRUE(pf.IsParticleSystem());
    EXPECT_EQ(pf.GetInterface(I_SIMPLEPARTICLEOBJ), nullptr);
    EXPECT_NE(pf.GetInterface(PARTICLEOBJECTEXT_INTERFACE), nullptr);
}

// ---- particle flow ----

class SceneFlowTest : public SceneParticlesTest {
protected:
    void SetUp() override {
        SceneParticlesTest::SetUp();
        pf = new PFlowSystemObject();
        system = scene().CreateNode(pf, "PF Source 001");
        ev0 = pf->AddEvent(scene(), "Event 001");
        ev1 = pf->AddEvent(scene(), "Event 002", /*hasSize=*/false, /*hasColor=*/false);
        FlowParticleRecord r;
        r.id = 7, r.birth = 0, r.position = Point3(0, 0, 0), r.velocity = Point3(0.5f, 0, 0);
        r.size = 2.0f, r.color = Point3(1, 0, 0);
        pf->particles.push_back(r);
        r = FlowParticleRecord();
        r.id = 3, r.birth = 100, r.position = Point3(0, 10, 0), r.velocity = Point3(0, 0, 1);
        r.nextEvent = 1, r.switchTime = 200;
        pf->particles.push_back(r);
        r = FlowParticleRecord();
        r.id = 5, r.birth = 0, r.death = 150, r.position = Point3(5, 5, 5);
        pf->particles.push_back(r);
    }

    IParticleGroup* groupOf(INode* node) {
        Object* o = GetPFObject(node->GetObjectRef());
        return o ? static_cast<IParticleGroup*>(o->GetInterface(PARTICLEGROUP_INTERFACE)) : nullptr;
    }
    // A value channel requested as the gathering does it.
    static IParticleChannelPoint3R* channel(IObject* container, ULONG x) {
        IChannelContainer* list = GetChannelContainerInterface(container);
        if (!list)
            return nullptr;
        return static_cast<IParticleChannelPoint3R*>(
            list->EnsureInterface(Interface_ID(x, 0x1EB34500), Class_ID(0x74F93B07, 0x1EB34100),
                                  true, Interface_ID(x, 0x1EB34500), Interface_ID(x, 0x1EB34501),
                                  true, nullptr, nullptr, nullptr));
    }
    static IParticleChannelIDR* ids(IObject* container) {
        return static_cast<IParticleChannelIDR*>(
            container->GetInterface(Interface_ID(0x74F93B02, 0x1EB34500)));
    }

    PFlowSystemObject* pf = nullptr;
    INode* system = nullptr;
    INode* ev0 = nullptr;
    INode* ev1 = nullptr;
};

TEST_F(SceneFlowTest, ExtensionListsParticlesWithTheirEvents) {
    auto* ext = static_cast<IParticleObjectExt*>(
        system->EvalWorldState(120).obj->GetInterface(Interface_ID(0x66C2429A, 0x38D60A0B)));
    ASSERT_NE(ext, nullptr);
    EXPECT_TRUE(ext->UpdateParticles(system, 120));
    ASSERT_EQ(ext->NumParticles(), 3);
    EXPECT_EQ(ext->GetParticleGroup(0), ev0);
    EXPECT_EQ(ext->GetParticleGroup(1), ev0);
    EXPECT_EQ(ext->GetParticleGroup(3), nullptr);
    EXPECT_EQ(ext->GetParticleGroup(-1), nullptr);
    ext->UpdateParticles(system, 250); // particle 5 died, particle 3 moved to event 1
    ASSERT_EQ(ext->NumParticles(), 2);
    EXPECT_EQ(ext->GetParticleGroup(0), ev0);
    EXPECT_EQ(ext->GetParticleGroup(1), ev1);
    EXPECT_EQ(ext->GetParticleBornIndex(1), 3);
}

TEST_F(SceneFlowTest, ContainerChannelsWithExactIdentifiers) {
    IParticleGroup* g = groupOf(ev0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetParticleSystem(), system);
    IObject* c = g->GetParticleContainer();
    g->Update(120);
    IParticleChannelIDR* id = ids(c);
    IParticleChannelPoint3R* pos = channel(c, 0x74F93B06);
    IParticleChannelPoint3R* size = channel(c, 0x74F93B0B);
    IParticleChannelPoint3R* col = channel(c, 0x74F93B16);
    ASSERT_TRUE(id && pos && size && col);
    ASSERT_EQ(id->Count(), 3);
    EXPECT_EQ(id->GetParticleBorn(0), 7);
    EXPECT_EQ(id->GetParticleBorn(1), 3);
    EXPECT_EQ(id->GetParticleBorn(2), 5);
    EXPECT_EQ(id->GetParticleIndex(2), 2);
    EXPECT_EQ(pos->GetValue(0), Point3(60, 0, 0));
    EXPECT_EQ(pos->GetValue(1), Point3(0, 10, 20));
    EXPECT_EQ(size->GetValue(0), Point3(2, 2, 2));
    EXPECT_EQ(col->GetValue(0), Point3(1, 0, 0));

    // Event 2 has no size and colour channels.
    IObject* c1 = groupOf(ev1)->GetParticleContainer();
    EXPECT_NE(channel(c1, 0x74F93B06), nullptr);
    EXPECT_EQ(channel(c1, 0x74F93B0B), nullptr);
    EXPECT_EQ(channel(c1, 0x74F93B16), nullptr);
}

TEST_F(SceneFlowTest, WrongIdentifiersAnswerNull) {
    IObject* c = groupOf(ev0)->GetParticleContainer();
    IChannelContainer* list = GetChannelContainerInterface(c);
    ASSERT_NE(list, nullptr);
    const ULONG x = 0x74F93B06;
    const Interface_ID rd(x, 0x1EB34500), wr(x, 0x1EB34501);
    const Class_ID cls(0x74F93B07, 0x1EB34100);
    auto ask = [&](Interface_ID a, Class_ID k, Interface_ID r, Interface_ID w) {
        return list->EnsureInterface(a, k, true, r, w, true, nullptr, nullptr, nullptr);
    };
    EXPECT_NE(ask(rd, cls, rd, wr), nullptr);
    EXPECT_EQ(ask(wr, cls, rd, wr), nullptr);                              // write id first
    EXPECT_EQ(ask(rd, Class_ID(0x74F93B07, 0x1EB34101), rd, wr), nullptr); // wrong class
    EXPECT_EQ(ask(rd, cls, wr, rd), nullptr);                              // read/write swapped
    EXPECT_EQ(ask(rd, cls, rd, rd), nullptr);
    EXPECT_EQ(ask(Interface_ID(0x74F93B05, 0x1EB34500), cls, Interface_ID(0x74F93B05, 0x1EB34500),
                  Interface_ID(0x74F93B05, 0x1EB34501)),
              nullptr); // no such channel
    EXPECT_EQ(c->GetInterface(Interface_ID(0x74F93B02, 0x1EB34501)), nullptr);
    EXPECT_EQ(c->GetInterface(Interface_ID(0x74F93B03, 0x1EB34500)), nullptr);
    EXPECT_EQ(GetChannelContainerInterface(nullptr), nullptr);
    EXPECT_EQ(pf->GetInterface(Interface_ID(0x66C2429A, 0x38D60A0C)), nullptr);
    EXPECT_EQ(groupOf(system), nullptr); // the system is not a group
}

TEST_F(SceneFlowTest, IdsAreStableAcrossTime) {
    IParticleGroup* g = groupOf(ev0);
    IObject* c = g->GetParticleContainer();
    std::map<int, Point3> at50, at120;
    g->Update(50);
    for (int j = 0; j < ids(c)->Count(); ++j)
        at50[ids(c)->GetParticleBorn(j)] = channel(c, 0x74F93B06)->GetValue(j);
    g->Update(120);
    for (int j = 0; j < ids(c)->Count(); ++j)
        at120[ids(c)->GetParticleBorn(j)] = channel(c, 0x74F93B06)->GetValue(j);
    EXPECT_EQ(at50.size(), 2u); // 3 is not born yet
    EXPECT_EQ(at120.size(), 3u);
    EXPECT_EQ(at120[7] - at50[7], Point3(35, 0, 0)); // 70 ticks at 0.5 per tick
    EXPECT_EQ(at120[5], at50[5]);
    g->Update(300);
    EXPECT_EQ(ids(c)->Count(), 1); // 5 died, 3 moved on
    EXPECT_EQ(ids(c)->GetParticleBorn(0), 7);
    IParticleGroup* g1 = groupOf(ev1);
    g1->Update(300);
    IObject* c1 = g1->GetParticleContainer();
    ASSERT_EQ(ids(c1)->Count(), 1);
    EXPECT_EQ(ids(c1)->GetParticleBorn(0), 3);
    EXPECT_EQ(channel(c1, 0x74F93B06)->GetValue(0), Point3(0, 10, 200));
}

TEST_F(SceneFlowTest, EventNodesAreDependentsOfTheSystem) {
    // The way an event list is offered: node dependents of the system whose object is a group.
    struct Collect : public DependentEnumProc {
        std::vector<INode*> nodes;
        int proc(ReferenceMaker* m) override {
            if (m->SuperClassID() == BASENODE_CLASS_ID)
                nodes.push_back(static_cast<INode*>(m));
            return DEP_ENUM_CONTINUE;
        }
    } collect;
    pf->DoEnumDependents(&collect);
    std::vector<INode*> events;
    for (INode* n : collect.nodes)
        if (n->GetObjectRef() && n->GetObjectRef()->GetInterface(PARTICLEGROUP_INTERFACE))
            events.push_back(n);
    EXPECT_EQ(events, (std::vector<INode*>{ev0, ev1}));
    EXPECT_EQ(pf->GetEventNode(1), ev1);
}

TEST_F(SceneFlowTest, DeletingTheSystemOrAnEventIsSafe) {
    IParticleGroup* g1 = groupOf(ev1);
    Object* group0 = ev0->GetObjectRef();
    EXPECT_TRUE(scene().DeleteObject(group0));
    pf->UpdateParticles(system, 120);
    EXPECT_EQ(pf->GetParticleGroup(0), nullptr); // its event is gone
    EXPECT_TRUE(scene().DeleteObject(pf));
    g1->Update(300);
    EXPECT_EQ(ids(g1->GetParticleContainer())->Count(), 0);
    EXPECT_EQ(g1->GetParticleSystem(), nullptr);
}

} // namespace
