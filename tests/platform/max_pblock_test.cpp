#include "max_test_support.h"

#include "host/max_core.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using maxtest::TestMap;
using maxtest::TestNode;

namespace {

enum : ParamID {
    pIcon = 0,
    pNodes = 1,
    pPoints = 2,
    pFlag = 4,
    pDepth = 13,
    pMap = 16,
    pMap2 = 17,
    pSizes = 24,
    pVel = 25
};

class TestClassDesc : public ClassDesc2 {
public:
    int IsPublic() override { return TRUE; }
    void* Create(BOOL) override { return nullptr; }
    const char* ClassName() override { return "PBlockOwnerTest"; }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(0x7001, 0x7002); }
    const char* Category() override { return "Tests"; }
};

// A descriptor shaped like a real object's: animatable floats with ranges, a bounded integer,
// a boolean, node and value tables, and two map slots.
struct Fixture {
    TestClassDesc cd;
    ParamBlockDesc2 desc{0, "params", 0, &cd, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP, 0};
    Fixture() {
        desc.AddRollout(0, 103, 4, 0);
        desc.AddRollout(1, 210, 37, APPENDROLL_CLOSED);
        desc.AddParam(pNodes, "nodes", TYPE_INODE_TAB, P_VARIABLE_SIZE | P_NO_INIT, 25)
            .UI(1, TYPE_NODELISTBOX, {1336, 0, 0, 1333});
        desc.AddParam(pPoints, "metaballs", TYPE_POINT3_TAB, P_VARIABLE_SIZE | P_NO_INIT, 0);
        desc.AddParam(pFlag, "allPflow", TYPE_BOOL, 0, 16).Default(true);
        desc.AddParam(pIcon, "icon", TYPE_FLOAT, P_ANIMATABLE, 26)
            .Default(10.0f)
            .Range(0.0001f, 1000000.0f)
            .Spinner(0, EDITTYPE_FLOAT, 1034, 1035, 0.1f);
        desc.AddParam(pDepth, "depth", TYPE_INT, P_ANIMATABLE, 34).Default(15).Range(1, 50);
        desc.AddParam(pMap, "texmap", TYPE_TEXMAP, P_NO_INIT, 5);
        desc.AddParam(pMap2, "texmap2", TYPE_TEXMAP, P_NO_INIT, 0);
        desc.AddParam(pSizes, "metaballSizes", TYPE_FLOAT_TAB, P_VARIABLE_SIZE | P_NO_INIT, 0);
        desc.AddParam(pVel, "velocityThreshold", TYPE_FLOAT, P_ANIMATABLE, 38)
            .Default(-1.0f)
            .Range(-1.0f, 1000000.0f);
    }
};

// The owner of a block, holding it as reference 0 as objects do.
class Owner : public ReferenceTarget {
public:
    explicit Owner(ClassDesc2& cd) { cd.MakeAutoParamBlocks(this); }
    ~Owner() override { DeleteAllRefs(); }
    int NumRefs() override { return 1; }
    RefTargetHandle GetReference(int i) override { return i == 0 ? pblock : nullptr; }
    void SetReference(int i, RefTargetHandle r) override {
        if (i == 0)
            pblock = static_cast<IParamBlock2*>(r);
    }
    RefResult NotifyRefChanged(const Interval&, RefTargetHandle, PartID&, RefMessage msg) override {
        if (msg == REFMSG_CHANGE)
            ++changes;
        return REF_SUCCEED;
    }
    IParamBlock2* pblock = nullptr;
    int changes = 0;
};

class MaxPBlock : public ::testing::Test {
protected:
    void SetUp() override { theHold.ClearUndoStack(); }
    void TearDown() override {
        theHold.ClearUndoStack();
        AnimateOff();
    }
    Fixture f;
};

TEST_F(MaxPBlock, AutoConstructionMakesReferenceWithDefaults) {
    Owner o(f.cd);
    ASSERT_NE(o.pblock, nullptr);
    EXPECT_EQ(o.pblock->GetOwner(), &o);
    EXPECT_EQ(o.pblock->GetDesc(), &f.desc);
    EXPECT_EQ(f.cd.GetParamBlockDescByID(0), &f.desc);
    EXPECT_EQ(o.pblock->GetFloat(pIcon), 10.0f);
    EXPECT_EQ(o.pblock->GetInt(pDepth), 15);
    EXPECT_EQ(o.pblock->GetInt(pFlag), 1);
    EXPECT_EQ(o.pblock->GetFloat(pVel), -1.0f);
    EXPECT_EQ(o.pblock->Count(pNodes), 0);
    EXPECT_EQ(o.pblock->Count(pIcon), 1);
    EXPECT_EQ(o.pblock->Count(99), -1);
    EXPECT_EQ(o.pblock->GetTexmap<TestMap>(pMap), nullptr);
    // The descriptor keeps the parameter order and the rollout records.
    EXPECT_EQ(f.desc.IndextoID(0), pNodes);
    EXPECT_EQ(f.desc.IDtoIndex(pIcon), 3);
    EXPECT_EQ(f.desc.GetMap(1)->dlgTemplate, 210);
    EXPECT_EQ(f.desc.GetMap(1)->rollupFlags, APPENDROLL_CLOSED);
    EXPECT_EQ(f.desc.GetParamDef(pNodes).ui.ctrlIDs, (std::vector<int>{1336, 0, 0, 1333}));
}

TEST_F(MaxPBlock, LookupByScriptName) {
    EXPECT_EQ(f.desc.IDByName("velocityThreshold"), pVel);
    EXPECT_EQ(f.desc.IDByName("VELOCITYthreshold"), pVel); // scripts ignore case
    EXPECT_EQ(f.desc.IDByName("metaballSizes"), pSizes);
    EXPECT_EQ(f.desc.IDByName("metaball"), -1);
    EXPECT_EQ(f.desc.IDByName(""), -1);
    EXPECT_EQ(f.desc.IDByName(nullptr), -1);
}

TEST_F(MaxPBlock, SetClampsToRangeAndRefusesWrongKinds) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    EXPECT_TRUE(pb->SetValue(pIcon, 0, 0.0f));
    EXPECT_EQ(pb->GetFloat(pIcon), 0.0001f);
    pb->SetValue(pIcon, 0, 5e6f);
    EXPECT_EQ(pb->GetFloat(pIcon), 1000000.0f);
    pb->SetValue(pVel, 0, -3.0f);
    EXPECT_EQ(pb->GetFloat(pVel), -1.0f);
    pb->SetValue(pDepth, 0, 0);
    EXPECT_EQ(pb->GetInt(pDepth), 1);
    pb->SetValue(pDepth, 0, 51);
    EXPECT_EQ(pb->GetInt(pDepth), 50);
    // A float setter on an integer parameter, an unknown ID and a bad index do nothing.
    EXPECT_FALSE(pb->SetValue(pDepth, 0, 3.0f));
    EXPECT_FALSE(pb->SetValue(77, 0, 3.0f));
    EXPECT_FALSE(pb->SetValue(pSizes, 0, 3.0f, 0));
    EXPECT_EQ(pb->GetInt(pDepth), 50);
    // A map slot takes only a map; a node table only nodes.
    TestNode n;
    EXPECT_FALSE(pb->SetValue(pMap, 0, &n));
    TestMap m;
    ReferenceTarget* wrong[] = {&m};
    EXPECT_EQ(pb->Append(pNodes, 1, wrong), 0);
}

TEST_F(MaxPBlock, ChangesNotifyDependents) {
    Owner o(f.cd);
    o.pblock->SetValue(pIcon, 0, 3.0f);
    EXPECT_EQ(o.changes, 1);
    o.pblock->SetValue(pIcon, 0, 3.0f); // no change, no message
    EXPECT_EQ(o.changes, 1);
    int tab = 0;
    EXPECT_EQ(o.pblock->LastNotifyParamID(tab), pIcon);
    TestNode n;
    TestNode* nodes[] = {&n};
    o.pblock->Append(pNodes, 1, nodes);
    EXPECT_EQ(o.changes, 2);
}

TEST_F(MaxPBlock, KeyedFloatInterpolatesAndNarrowsValidity) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    Interval iv = FOREVER;
    float v = 0.0f;
    pb->GetValue(pIcon, 100, v, iv); // constant: nothing narrows
    EXPECT_EQ(iv, FOREVER);
    pb->SetValue(pIcon, 0, 1.0f);
    AnimateOn();
    pb->SetValue(pIcon, 160, 2.0f);
    pb->SetValue(pIcon, 320, 2.0f);
    AnimateOff();
    EXPECT_EQ(pb->KeyCount(pIcon), 3);

    iv = FOREVER;
    ASSERT_TRUE(pb->GetValue(pIcon, 53, v, iv));
    EXPECT_EQ(v, 1.0f + (2.0f - 1.0f) * (53.0f / 160.0f));
    EXPECT_EQ(iv, Interval(53, 53));
    iv = FOREVER;
    pb->GetValue(pIcon, 200, v, iv); // between two equal keys
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(iv, Interval(160, 320));
    iv = FOREVER;
    pb->GetValue(pIcon, -50, v, iv); // before the first key
    EXPECT_EQ(v, 1.0f);
    EXPECT_EQ(iv, Interval(TIME_NegInfinity, 0));
    iv = Interval(500, 900);
    pb->GetValue(pIcon, 600, v, iv); // after the last key; narrowing intersects
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(iv, Interval(500, 900));
    iv = Interval(-100, 10);
    pb->GetValue(pIcon, 0, v, iv);
    EXPECT_EQ(iv, Interval(-100, 0));

    // With animate mode off a change moves the whole curve.
    pb->SetValue(pIcon, 80, 2.5f);
    EXPECT_EQ(pb->GetFloat(pIcon, 80), 2.5f);
    EXPECT_EQ(pb->GetFloat(pIcon, 0), 2.0f);
    EXPECT_EQ(pb->KeyCount(pIcon), 3);
    // Keys are refused on a parameter that is not animatable.
    EXPECT_FALSE(pb->SetKey(pFlag, 10, 0));
}

TEST_F(MaxPBlock, KeyedIntRoundsAndPointInterpolatesPerComponent) {
    AnimValue<int> i(0);
    i.SetKey(0, 0);
    i.SetKey(3, 2);
    EXPECT_EQ(i.Get(1), 1); // 0.667 rounds to 1
    EXPECT_EQ(i.Get(2), 1); // 1.333 rounds to 1
    AnimValue<Point3> p;
    p.SetKey(0, Point3(0, 10, -4));
    p.SetKey(4, Point3(4, 10, 4));
    Interval iv = FOREVER;
    EXPECT_EQ(p.Get(1, iv), Point3(1, 10, -2));
    EXPECT_EQ(iv, Interval(1, 1));
    // The first key of a constant at a time other than 0 keeps the constant at 0.
    AnimValue<float> c(7.0f);
    c.SetKey(100, 9.0f);
    ASSERT_EQ(c.NumKeys(), 2);
    EXPECT_EQ(c.Keys()[0].value, 7.0f);
}

TEST_F(MaxPBlock, TablesAppendInsertDeleteSetCount) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    TestNode a("A"), b("B"), c("C");
    TestNode* ab[] = {&a, &b};
    EXPECT_EQ(pb->Append(pNodes, 2, ab), 2);
    TestNode* cc[] = {&c};
    EXPECT_EQ(pb->Insert(pNodes, 1, 1, cc), 3);
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 1), &c);
    EXPECT_EQ(a.Dependents(), (std::vector<ReferenceMaker*>{pb}));
    EXPECT_EQ(pb->Delete(pNodes, 0, 1), 2);
    EXPECT_TRUE(a.Dependents().empty());
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 0), &c);
    EXPECT_EQ(pb->SetCount(pNodes, 4), 4);
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 3), nullptr);
    EXPECT_EQ(pb->Delete(pNodes, 9, 1), 4); // out of range: nothing
    EXPECT_EQ(pb->SetCount(pNodes, 1), 1);
    EXPECT_TRUE(b.Dependents().empty());
    float one[] = {1.0f};
    EXPECT_EQ(pb->Append(pIcon, 1, one), -1); // not a table
    Point3 pts[] = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(pb->Append(pPoints, 2, pts), 2);
    EXPECT_EQ(pb->GetPoint3(pPoints, 0, 1), Point3(4, 5, 6));
    // A deleted node leaves a null entry; the table keeps its length.
    auto* gone = new TestNode("Gone");
    TestNode* g[] = {gone};
    pb->Append(pNodes, 1, g);
    delete gone;
    EXPECT_EQ(pb->Count(pNodes), 2);
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 1), nullptr);
}

TEST_F(MaxPBlock, ValidatorRefusesAssignmentsAndAppends) {
    struct NoDuplicates : PBValidator {
        IParamBlock2* pb = nullptr;
        int calls = 0;
        int lastIndex = -1;
        ReferenceMaker* lastOwner = nullptr;
        BOOL Validate(PB2Value& v) override {
            ++calls;
            for (int i = 0; i < pb->Count(pNodes); ++i)
                if (pb->GetINode<TestNode>(pNodes, 0, i) == v.ref<TestNode>())
                    return FALSE;
            return TRUE;
        }
        BOOL Validate(PB2Value& v, ReferenceMaker* owner, ParamID id, int tabIndex) override {
            lastOwner = owner;
            lastIndex = tabIndex;
            EXPECT_EQ(id, pNodes);
            return Validate(v);
        }
    } validator;
    Owner o(f.cd);
    validator.pb = o.pblock;
    f.desc.ParamOption(pNodes, p_validator, &validator);
    EXPECT_EQ(f.desc.GetParamDef(pNodes).validator, &validator);
    TestNode a, b;
    TestNode* aa[] = {&a, &b, &a};
    EXPECT_EQ(o.pblock->Append(pNodes, 3, aa), 2);
    EXPECT_EQ(validator.lastOwner, &o);
    EXPECT_EQ(validator.lastIndex, 2);
    EXPECT_FALSE(o.pblock->SetValue(pNodes, 0, &b, 0)); // b already stands at 1
    EXPECT_EQ(o.pblock->GetINode<TestNode>(pNodes, 0, 0), &a);
    f.desc.ParamOption(pNodes, p_validator, static_cast<PBValidator*>(nullptr));
}

TEST_F(MaxPBlock, UndoOfAppendRemovesItAndRedoBringsItBack) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    TestNode a("A"), b("B");
    TestNode* an[] = {&a};
    theHold.Begin();
    pb->Append(pNodes, 1, an);
    theHold.Accept("Add Blobs");
    TestNode* bn[] = {&b};
    theHold.Begin();
    pb->Append(pNodes, 1, bn);
    pb->Delete(pNodes, 0, 1);
    theHold.Accept("Remove Node");
    ASSERT_EQ(pb->Count(pNodes), 1);
    EXPECT_EQ(theHold.UndoCount(), 2);
    EXPECT_EQ(theHold.UndoMenuText(), "Remove Node");
    EXPECT_EQ(theHold.UndoEntrySize(), 2);

    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(pb->Count(pNodes), 1);
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 0), &a);
    EXPECT_TRUE(b.Dependents().empty());
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    EXPECT_EQ(theHold.RedoMenuText(), "Remove Node");
    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(pb->Count(pNodes), 0);
    EXPECT_TRUE(a.Dependents().empty());
    EXPECT_FALSE(theHold.Undo());

    ASSERT_TRUE(theHold.Redo());
    EXPECT_EQ(pb->Count(pNodes), 1);
    EXPECT_EQ(pb->GetINode<TestNode>(pNodes, 0, 0), &a);
    EXPECT_EQ(a.Dependents(), (std::vector<ReferenceMaker*>{pb}));
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    EXPECT_EQ(theHold.RedoCount(), 1);
    // A new entry drops what could be redone.
    theHold.Begin();
    pb->SetValue(pIcon, 0, 4.0f);
    theHold.Accept("Parameter Change");
    EXPECT_EQ(theHold.RedoCount(), 0);
    theHold.Undo();
    EXPECT_EQ(pb->GetFloat(pIcon), 10.0f);
}

TEST_F(MaxPBlock, HoldBracketsNestCancelAndIgnoreEmptyOnes) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    TestNode a;
    TestNode* an[] = {&a};
    theHold.Begin();
    theHold.Accept("Nothing");
    EXPECT_EQ(theHold.UndoCount(), 0); // a refused operation leaves no entry
    theHold.Begin();
    pb->Append(pNodes, 1, an);
    theHold.Cancel();
    EXPECT_EQ(pb->Count(pNodes), 0);
    EXPECT_EQ(theHold.UndoCount(), 0);
    theHold.Begin();
    theHold.Begin();
    pb->Append(pNodes, 1, an);
    theHold.Accept("inner");
    EXPECT_EQ(theHold.UndoCount(), 0);
    pb->Append(pNodes, 1, an);
    theHold.Accept("Add Blobs");
    EXPECT_EQ(theHold.UndoCount(), 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    theHold.Undo();
    EXPECT_EQ(pb->Count(pNodes), 0);
    // Outside a bracket nothing is recorded.
    pb->Append(pNodes, 1, an);
    EXPECT_EQ(theHold.UndoCount(), 0);
}

TEST_F(MaxPBlock, UndoEntryOutlivesDeletedNodeSafely) {
    Owner o(f.cd);
    auto* n = new TestNode("Temp");
    TestNode* nn[] = {n};
    theHold.Begin();
    o.pblock->Append(pNodes, 1, nn);
    theHold.Accept("Add Blobs");
    delete n;
    theHold.Undo();
    EXPECT_EQ(o.pblock->Count(pNodes), 0);
    theHold.Redo(); // the node is gone: its entry comes back as null
    ASSERT_EQ(o.pblock->Count(pNodes), 1);
    EXPECT_EQ(o.pblock->GetINode<TestNode>(pNodes, 0, 0), nullptr);
}

TEST_F(MaxPBlock, SaveAndLoadRoundTripsEveryParameter) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    TestNode a("A"), b("B");
    TestMap m(0.5f);
    TestNode* nodes[] = {&a, nullptr, &b, &a};
    pb->Append(pNodes, 4, nodes);
    Point3 pts[] = {{0.1f, -2.0f, 3e-7f}, {1e30f, 0.0f, -0.0f}};
    pb->Append(pPoints, 2, pts);
    float sizes[] = {0.3f, 1.0f / 3.0f};
    pb->Append(pSizes, 2, sizes);
    pb->SetValue(pFlag, 0, 0);
    pb->SetValue(pDepth, 0, 7);
    pb->SetKey(pDepth, 160, 9);
    pb->SetKey(pIcon, 0, 0.1f);
    pb->SetKey(pIcon, 4800, 123.456f);
    pb->SetValue(pMap, 0, &m);

    std::map<ReferenceTarget*, int> ids{{&a, 0}, {&b, 1}, {&m, 2}};
    std::stringstream ss;
    ASSERT_TRUE(pb->Save(ss, [&](ReferenceTarget* r) { return ids.at(r); }));

    Owner copy(f.cd);
    std::vector<ReferenceTarget*> byId{&a, &b, &m};
    std::string err;
    ASSERT_TRUE(copy.pblock->Load(
        ss, [&](int i) { return byId.at(i); }, &err))
        << err;
    IParamBlock2* q = copy.pblock;
    ASSERT_EQ(q->Count(pNodes), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(q->GetINode<TestNode>(pNodes, 0, i), nodes[i]);
    EXPECT_EQ(q->GetPoint3(pPoints, 0, 0), pts[0]);
    EXPECT_EQ(q->GetPoint3(pPoints, 0, 1), pts[1]);
    EXPECT_TRUE(std::signbit(q->GetPoint3(pPoints, 0, 1).z));
    EXPECT_EQ(q->GetFloat(pSizes, 0, 1), 1.0f / 3.0f);
    EXPECT_EQ(q->GetInt(pFlag), 0);
    EXPECT_EQ(q->KeyCount(pDepth), 2);
    EXPECT_EQ(q->GetInt(pDepth, 160), 9);
    EXPECT_EQ(q->GetFloat(pIcon, 4800), 123.456f);
    EXPECT_EQ(q->GetFloat(pIcon, 1234), pb->GetFloat(pIcon, 1234));
    EXPECT_EQ(q->GetTexmap<TestMap>(pMap), &m);
    EXPECT_EQ(q->GetFloat(pVel), -1.0f);
    EXPECT_EQ(a.DependentReferenceCount(), 4); // two from each block
}

TEST_F(MaxPBlock, LoadRefusesMalformedRecordsWithoutChanges) {
    Owner o(f.cd);
    o.pblock->SetValue(pIcon, 0, 5.0f);
    auto load = [&](const std::string& text) {
        std::stringstream ss(text);
        std::string err;
        bool ok = o.pblock->Load(
            ss, [](int) { return nullptr; }, &err);
        return ok ? std::string("ok") : err;
    };
    EXPECT_NE(load("Nonsense").find("not a parameter block"), std::string::npos);
    EXPECT_NE(load("ParamBlock2 3 0\nend\n").find("block ID 3"), std::string::npos);
    EXPECT_NE(load("ParamBlock2 0 1\np 0 1 1\nc 3\nend\n").find("type"), std::string::npos);
    EXPECT_NE(load("ParamBlock2 0 1\np 0 0 1\nc 0x1p+1\n").find("end"), std::string::npos);
    EXPECT_NE(load("ParamBlock2 0 1\np 1 2065 1\nr 4\nend\n").find("unresolved"),
              std::string::npos);
    EXPECT_EQ(o.pblock->GetFloat(pIcon), 5.0f);
    EXPECT_EQ(load("ParamBlock2 0 1\np 0 0 1\nc 0x1p+1\nend\n"), "ok");
    EXPECT_EQ(o.pblock->GetFloat(pIcon), 2.0f);
}

TEST_F(MaxPBlock, CloneWithRemapGivesIndependentBlockAndSharedOnceMaps) {
    Owner o(f.cd);
    IParamBlock2* pb = o.pblock;
    TestNode a;
    TestNode* an[] = {&a};
    pb->Append(pNodes, 1, an);
    auto* m = new TestMap(0.25f);
    pb->SetValue(pMap, 0, m);
    pb->SetValue(pMap2, 0, m);
    pb->SetKey(pIcon, 10, 4.0f);

    RemapDir remap;
    auto* c = static_cast<IParamBlock2*>(remap.CloneRef(pb));
    Owner other(f.cd);
    other.ReplaceReference(0, c);
    ASSERT_EQ(other.pblock, c);
    EXPECT_EQ(c->GetINode<TestNode>(pNodes, 0, 0), &a); // nodes are shared, not cloned
    TestMap* cm = c->GetTexmap<TestMap>(pMap);
    ASSERT_NE(cm, nullptr);
    EXPECT_NE(cm, m);
    EXPECT_EQ(c->GetTexmap<TestMap>(pMap2), cm);
    EXPECT_EQ(m->clones, 1);
    EXPECT_EQ(cm->value, 0.25f);
    EXPECT_EQ(c->GetFloat(pIcon, 10), 4.0f);
    EXPECT_EQ(c->KeyCount(pIcon), 2);
    // Independent: changing the clone leaves the original alone.
    c->SetValue(pIcon, 10, 6.0f);
    c->Delete(pNodes, 0, 1);
    EXPECT_EQ(pb->GetFloat(pIcon, 10), 4.0f);
    EXPECT_EQ(pb->Count(pNodes), 1);
}

TEST_F(MaxPBlock, InvalidateUIAndUserDlgProcSlots) {
    int seen = 0;
    ParamID lastID = 0;
    int h = f.desc.AddUIListener([&](ParamBlockDesc2* d, ParamID id, int) {
        EXPECT_EQ(d, &f.desc);
        lastID = id;
        ++seen;
    });
    f.cd.InvalidateUI();
    f.desc.InvalidateUI(pIcon);
    EXPECT_EQ(f.desc.InvalidateUICount(), 2);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(lastID, pIcon);
    f.desc.RemoveUIListener(h);
    f.desc.InvalidateUI();
    EXPECT_EQ(seen, 2);
    auto* proc = reinterpret_cast<ParamMap2UserDlgProc*>(&seen);
    f.desc.SetUserDlgProc(1, proc);
    EXPECT_EQ(f.desc.GetUserDlgProc(1), proc);
    EXPECT_EQ(f.desc.GetUserDlgProc(0), nullptr);
}

TEST_F(MaxPBlock, BlockGoesWithItsOwner) {
    TestNode probe;
    {
        Owner o(f.cd);
        TestNode* pn[] = {&probe};
        o.pblock->Append(pNodes, 1, pn);
        EXPECT_EQ(probe.Dependents().size(), 1u);
    }
    // The block was deleted with its last reference and let go of the node.
    EXPECT_TRUE(probe.Dependents().empty());
}

} // namespace
