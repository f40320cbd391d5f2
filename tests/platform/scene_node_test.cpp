#include "host/max_scene.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// An object that refers to nodes, as an object with a node list does.
class NodeUser : public GeomObject {
public:
    std::vector<ReferenceTarget*> refs;
    int NumRefs() override { return static_cast<int>(refs.size()); }
    RefTargetHandle GetReference(int i) override { return refs[i]; }
    void SetReference(int i, RefTargetHandle r) override { refs[i] = r; }
    void Add(INode* n) {
        refs.push_back(nullptr);
        ReplaceReference(NumRefs() - 1, n);
    }
    ~NodeUser() override { DeleteAllRefs(); }
};

// Whether `node` depends on `target`: the host's dependency test.
bool dependsOn(INode* node, ReferenceTarget* target) {
    node->ClearAFlag(A_DEPENDENCY_TEST);
    target->NotifyDependents(FOREVER, 0, REFMSG_TEST_DEPENDENCY);
    return node->TestAFlag(A_DEPENDENCY_TEST);
}

class SceneNodeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCOREInterface(); }
    void TearDown() override { ResetCOREInterface(); }
    Scene& scene() { return GetCOREInterface()->GetScene(); }
};

TEST_F(SceneNodeTest, KeyedTransformInterpolatesRowsAndNarrowsValidity) {
    INode* node = scene().CreateNode(new TriObject(), "n");
    Matrix3 a = TransMatrix(Point3(0, 0, 0));
    Matrix3 b = ScaleMatrix(Point3(3, 1, 1));
    b.SetTrans(Point3(10, 20, 30));
    node->SetNodeTMKey(0, a);
    node->SetNodeTMKey(100, b);
    EXPECT_TRUE(node->IsTMAnimated());

    Interval valid = FOREVER;
    Matrix3 m = node->GetNodeTM(25, &valid);
    EXPECT_EQ(m.GetTrans(), Point3(2.5f, 5.0f, 7.5f));
    EXPECT_EQ(m.GetRow(0), Point3(1.5f, 0, 0));
    EXPECT_EQ(valid, Interval(25, 25));

    valid = FOREVER;
    EXPECT_EQ(node->GetNodeTM(400, &valid).GetTrans(), Point3(10, 20, 30));
    EXPECT_EQ(valid, Interval(100, TIME_PosInfinity));
    valid = FOREVER;
    EXPECT_EQ(node->GetNodeTM(-5, &valid).GetTrans(), Point3(0, 0, 0));
    EXPECT_EQ(valid, Interval(TIME_NegInfinity, 0));

    // The object transform puts the pivot offset in front.
    node->SetObjOffset(TransMatrix(Point3(1, 0, 0)));
    EXPECT_EQ(node->GetObjectTM(100).PointTransform(Point3(0, 0, 0)), Point3(13, 20, 30));
    EXPECT_EQ(node->GetNodeTM(100).PointTransform(Point3(0, 0, 0)), Point3(10, 20, 30));

    node->SetNodeTMConstant(TransMatrix(Point3(5, 5, 5)));
    valid = FOREVER;
    EXPECT_EQ(node->GetNodeTM(50, &valid).GetTrans(), Point3(5, 5, 5));
    EXPECT_EQ(valid, FOREVER);
}

TEST_F(SceneNodeTest, SetNodeTMKeysOnlyInAnimateMode) {
    INode* node = scene().CreateNode(nullptr, "n");
    node->SetNodeTM(100, TransMatrix(Point3(1, 0, 0)));
    EXPECT_FALSE(node->IsTMAnimated());
    AnimateOn();
    node->SetNodeTM(100, TransMatrix(Point3(2, 0, 0)));
    AnimateOff();
    EXPECT_TRUE(node->IsTMAnimated());
    EXPECT_EQ(node->GetNodeTM(0).GetTrans(), Point3(1, 0, 0)); // the old value stays at 0
    EXPECT_EQ(node->GetNodeTM(100).GetTrans(), Point3(2, 0, 0));
}

TEST_F(SceneNodeTest, WorldStateNamesAndFlags) {
    auto* box = new BoxObject();
    INode* n1 = scene().CreateNode(box);
    INode* n2 = scene().CreateNode(new BoxObject());
    INode* empty = scene().CreateNode(nullptr, "empty");
    EXPECT_STREQ(n1->GetName(), "Box001");
    EXPECT_STREQ(n2->GetName(), "Box002");
    EXPECT_EQ(scene().FindNode("Box002"), n2);
    EXPECT_EQ(scene().FindNode("nothing"), nullptr);
    EXPECT_EQ(n1->EvalWorldState(0).obj, box);
    EXPECT_EQ(n1->GetObjectRef(), box);
    EXPECT_EQ(empty->EvalWorldState(0).obj, nullptr);
    EXPECT_EQ(n1->SuperClassID(), BASENODE_CLASS_ID);

    n1->SetWireColor(RGB(255, 0, 0));
    EXPECT_EQ(n1->GetWireColor(), RGB(255, 0, 0));
    EXPECT_FALSE(n1->IsFrozen());
    n1->Freeze(TRUE);
    EXPECT_TRUE(n1->IsFrozen());
    GetCOREInterface()->SelectNode(n2);
    EXPECT_TRUE(n2->Selected());
    EXPECT_EQ(GetCOREInterface()->GetSelNodeCount(), 1);
    EXPECT_EQ(GetCOREInterface()->GetSelNode(0), n2);
    GetCOREInterface()->SelectNode(n1);
    EXPECT_FALSE(n2->Selected());
}

TEST_F(SceneNodeTest, DependencyTestReachesANodeThroughAChain) {
    // a holds a sphere; user (like an object with a node list) refers to a; b holds user.
    INode* a = scene().CreateNode(new SphereObject(), "a");
    auto* user = new NodeUser();
    user->Add(a);
    INode* b = scene().CreateNode(user, "b");
    INode* other = scene().CreateNode(new SphereObject(), "other");

    EXPECT_TRUE(dependsOn(b, user));      // b would make a loop
    EXPECT_FALSE(dependsOn(a, user));     // a is only referred to
    EXPECT_FALSE(dependsOn(other, user)); // unrelated
    EXPECT_TRUE(dependsOn(b, a->GetObjectRef()));
}

TEST_F(SceneNodeTest, DeletingANodeOrObjectLeavesNullBehind) {
    INode* a = scene().CreateNode(new SphereObject(), "a");
    auto* user = new NodeUser();
    user->Add(a);
    scene().AddObject(user);
    EXPECT_TRUE(scene().DeleteNode(a));
    EXPECT_EQ(user->refs[0], nullptr);
    EXPECT_EQ(scene().FindNode("a"), nullptr);
    EXPECT_FALSE(scene().DeleteNode(a));

    auto* box = new BoxObject();
    INode* n = scene().CreateNode(box, "n");
    EXPECT_TRUE(scene().DeleteObject(box));
    EXPECT_EQ(n->GetObjectRef(), nullptr);
    EXPECT_EQ(n->EvalWorldState(0).obj, nullptr);
}

TEST_F(SceneNodeTest, ObjectChangesTravelThroughTheNode) {
    auto* sphere = new SphereObject();
    INode* a = scene().CreateNode(sphere, "a");
    struct Listener : public ReferenceMaker {
        ReferenceTarget* r = nullptr;
        int changes = 0;
        int NumRefs() override { return 1; }
        RefTargetHandle GetReference(int) override { return r; }
        void SetReference(int, RefTargetHandle t) override { r = t; }
        RefResult NotifyRefChanged(const Interval&, RefTargetHandle, PartID&,
                                   RefMessage m) override {
            changes += m == REFMSG_CHANGE;
            return REF_SUCCEED;
        }
    } listener;
    listener.ReplaceReference(0, a);
    sphere->ParamsChanged();
    EXPECT_EQ(listener.changes, 1);
    a->SetNodeTMConstant(TransMatrix(Point3(1, 1, 1)));
    EXPECT_EQ(listener.changes, 2);
    listener.DeleteAllRefs();
}

} // namespace
