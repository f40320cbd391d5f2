// The published "VelquinMetaballOps" functions, called through the interface as scripts do.
#include <string>

#include "object/IVelquinMetaball.h"
#include "object_test_support.h"

using namespace velquin;

namespace {

class Scripting : public objtest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        obj = newObject(&objNode);
        ops = GetObjectInterface(obj, VELQUIN_METABALL_OPS_ID);
        ASSERT_NE(ops, nullptr);
        a = newSphere("A");
        b = newSphere("B");
    }
    FPStatus callById(FunctionID fid, INode* node) {
        FPParams p{FPValue::Node(node)};
        FPValue r;
        return ops->Invoke(fid, 0, r, &p);
    }
    FPStatus callByName(const char* name, INode* node) {
        FPParams p{FPValue::Node(node)};
        FPValue r;
        return ops->InvokeByName(name, 0, r, &p);
    }
    INode* entry(ParamID id, int i) { return obj->pblock->GetINode(id, 0, i); }

    VelquinMetaball* obj = nullptr;
    INode* objNode = nullptr;
    FPInterface* ops = nullptr;
    INode* a = nullptr;
    INode* b = nullptr;
};

TEST_F(Scripting, AddingTwiceKeepsOneEntryAndOneUndoRemovesIt) {
    int redraws = core->RedrawCount();
    core->SetTime(320, FALSE);
    EXPECT_EQ(callById(fn_addMetaball, a), FPS_OK);
    EXPECT_EQ(callByName("addMetaball", a), FPS_OK);
    ASSERT_EQ(obj->pblock->Count(pb_nodes), 1);
    EXPECT_EQ(entry(pb_nodes, 0), a);
    EXPECT_EQ(theHold.UndoCount(), 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    // Only the accepted add redraws, at the current time with a normal redraw.
    EXPECT_EQ(core->RedrawCount(), redraws + 1);
    EXPECT_EQ(core->LastRedrawTime(), 320);
    EXPECT_EQ(core->LastRedrawFlags(), REDRAW_NORMAL);

    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 0);
    EXPECT_FALSE(theHold.Undo());
}

TEST_F(Scripting, LoopClosingNodeIsRefusedWithoutUndoEntry) {
    // The node that holds the object depends on it: adding it would make it its own source.
    int redraws = core->RedrawCount();
    EXPECT_EQ(callById(fn_addMetaball, objNode), FPS_OK);
    EXPECT_EQ(callByName("addPFMetaball", objNode), FPS_OK);
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 0);
    EXPECT_EQ(obj->pblock->Count(pb_pflow), 0);
    EXPECT_EQ(theHold.UndoCount(), 0);
    EXPECT_EQ(core->RedrawCount(), redraws);
    EXPECT_TRUE(obj->dependsOnObject(objNode));
    EXPECT_FALSE(obj->dependsOnObject(a));
}

TEST_F(Scripting, NodesAndPflowAreCheckedSeparately) {
    callByName("addMetaball", a);
    EXPECT_EQ(callByName("addPFMetaball", a), FPS_OK);
    EXPECT_EQ(callById(fn_addPFMetaball, a), FPS_OK); // a duplicate within "pflow"
    ASSERT_EQ(obj->pblock->Count(pb_nodes), 1);
    ASSERT_EQ(obj->pblock->Count(pb_pflow), 1);
    EXPECT_EQ(entry(pb_pflow, 0), a);
    EXPECT_EQ(theHold.UndoCount(), 2);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");

    EXPECT_EQ(callByName("removePFMetaball", a), FPS_OK);
    EXPECT_EQ(obj->pblock->Count(pb_pflow), 0);
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 1);
}

TEST_F(Scripting, RemovingTakesOnlyTheFirstOccurrence) {
    INode* list[] = {a, b, a};
    obj->pblock->Append(pb_nodes, 3, list);
    int before = theHold.UndoCount();
    EXPECT_EQ(callById(fn_removeMetaball, a), FPS_OK);
    ASSERT_EQ(obj->pblock->Count(pb_nodes), 2);
    EXPECT_EQ(entry(pb_nodes, 0), b);
    EXPECT_EQ(entry(pb_nodes, 1), a);
    EXPECT_EQ(theHold.UndoCount(), before + 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Remove Node");
    ASSERT_TRUE(theHold.Undo());
    ASSERT_EQ(obj->pblock->Count(pb_nodes), 3);
    EXPECT_EQ(entry(pb_nodes, 0), a);
}

TEST_F(Scripting, RemovingAnAbsentOrNullNodeDoesNothing) {
    INode* list[] = {a};
    obj->pblock->Append(pb_pflow, 1, list);
    int redraws = core->RedrawCount();
    EXPECT_EQ(callByName("removeMetaball", a), FPS_OK); // a is only in "pflow"
    EXPECT_EQ(callById(fn_removePFMetaball, b), FPS_OK);
    EXPECT_EQ(callById(fn_removePFMetaball, nullptr), FPS_OK);
    EXPECT_EQ(callById(fn_addMetaball, nullptr), FPS_OK);
    EXPECT_EQ(obj->pblock->Count(pb_pflow), 1);
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 0);
    EXPECT_EQ(theHold.UndoCount(), 0);
    EXPECT_EQ(core->RedrawCount(), redraws);
}

TEST_F(Scripting, DispatchAnswersNoSuchFunctionOutsideTheSeven) {
    FPValue r;
    EXPECT_EQ(ops->Invoke(7, 0, r, nullptr), FPS_NO_SUCH_FUNCTION);
    EXPECT_EQ(ops->Invoke(-1, 0, r, nullptr), FPS_NO_SUCH_FUNCTION);
    EXPECT_EQ(ops->Invoke(100, 0, r, nullptr), FPS_NO_SUCH_FUNCTION);
    EXPECT_EQ(ops->InvokeByName("addNode", 0, r, nullptr), FPS_NO_SUCH_FUNCTION);
    // The argument-free functions answer success even with nothing to act on.
    EXPECT_EQ(ops->Invoke(fn_pick, 0, r, nullptr), FPS_OK);
    EXPECT_EQ(ops->Invoke(fn_addPF, 0, r, nullptr), FPS_OK);
    EXPECT_EQ(r.type, TYPE_VOID);
}

TEST_F(Scripting, CallByIdWithoutANodeArgumentIsRefused) {
    FPValue r;
    EXPECT_EQ(ops->Invoke(fn_addMetaball, 0, r, nullptr), FPS_FAIL);
    FPParams empty;
    EXPECT_EQ(ops->Invoke(fn_removeMetaball, 0, r, &empty), FPS_FAIL);
    // A reference that is not a scene node is not taken for one.
    ConstantTexmap map(0.5f);
    FPParams wrong{FPValue::Ref(&map)};
    EXPECT_EQ(ops->Invoke(fn_addMetaball, 0, r, &wrong), FPS_FAIL);
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 0);
    // By name the argument list is checked before the call.
    EXPECT_EQ(ops->InvokeByName("addMetaball", 0, r, nullptr), FPS_FAIL);
}

TEST_F(Scripting, SelectByNameAddsTheChosenNodesUnderOneUndoEntry) {
    INode* c = newSphere("C");
    callByName("addMetaball", b);
    core->SetHitByNameChooser(ChooseNodesByName({"C", "A"}));
    FPValue r;
    EXPECT_EQ(ops->InvokeByName("add", 0, r, nullptr), FPS_OK);
    const HitByNameView& view = core->LastHitByNameView();
    EXPECT_EQ(view.title, "Add Blobs");
    EXPECT_EQ(view.button, "Add Blobs");
    EXPECT_FALSE(view.singleSelect);
    // Offered: neither the object's own node (a loop) nor B (already a source).
    EXPECT_EQ(view.offered, (std::vector<INode*>{a, c}));
    ASSERT_EQ(obj->pblock->Count(pb_nodes), 3);
    EXPECT_EQ(entry(pb_nodes, 1), c);
    EXPECT_EQ(entry(pb_nodes, 2), a);
    EXPECT_EQ(theHold.UndoCount(), 2);
    ASSERT_GE(macroRecorder->Lines().size(), 2u);
    EXPECT_EQ(macroRecorder->LastLine(), "$.VelquinMetaballOps.addMetaball $'A'");
    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 1);

    // Cancelling or confirming nothing leaves no entry.
    core->SetHitByNameChooser([](const HitByNameView&, std::vector<INode*>&) { return true; });
    obj->add();
    EXPECT_EQ(theHold.UndoCount(), 1);
}

TEST_F(Scripting, ValidatorRefusesDuplicatesAndLoopsOnly) {
    callByName("addMetaball", a);
    PB2Value v;
    v.r = a;
    EXPECT_FALSE(obj->validator.Validate(v));
    v.r = objNode;
    EXPECT_FALSE(obj->validator.Validate(v, obj, pb_nodes, 0));
    v.r = b;
    EXPECT_TRUE(obj->validator.Validate(v));
    v.r = nullptr;
    EXPECT_TRUE(obj->validator.Validate(v));
}

TEST_F(Scripting, PickRunsOnlyWhileRolloutsAreOpen) {
    obj->pick();
    EXPECT_EQ(obj->pickingActive, 0);
    EXPECT_EQ(core->GetCurPickMode(), nullptr);

    IObjParam* ip = GetCOREObjParam();
    obj->BeginEditParams(ip, 0, nullptr);
    EXPECT_EQ(editingInterface, ip);
    EXPECT_EQ(GetVelquinMetaballParamDesc()->GetParamDef(pb_nodes).validator, &obj->validator);
    obj->pick();
    EXPECT_EQ(obj->pickingActive, 1);
    ASSERT_NE(core->GetCurPickMode(), nullptr);
    // The pick mode's filter is the object's: it refuses the object's own node.
    PickNodeCallback* filter = core->GetCurPickMode()->GetFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_FALSE(filter->Filter(objNode));
    EXPECT_TRUE(filter->Filter(a));
    obj->pick();
    EXPECT_EQ(obj->pickingActive, 0);
    EXPECT_EQ(core->GetCurPickMode(), nullptr);

    obj->pick();
    obj->EndEditParams(ip, END_EDIT_REMOVEUI, nullptr);
    EXPECT_EQ(obj->pickingActive, 0); // ending the edit ends the mode
    EXPECT_EQ(editingInterface, nullptr);
    EXPECT_EQ(GetVelquinMetaballParamDesc()->GetParamDef(pb_nodes).validator, nullptr);
}

TEST_F(Scripting, DeletedObjectLeavesNoValidatorBehind) {
    auto* other = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    GetVelquinMetaballParamDesc()->ParamOption(pb_nodes, p_validator, &other->validator);
    other->DeleteThis();
    EXPECT_EQ(GetVelquinMetaballParamDesc()->GetParamDef(pb_nodes).validator, nullptr);
    // Another object's block still takes nodes.
    EXPECT_EQ(callById(fn_addMetaball, a), FPS_OK);
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 1);
}

} // namespace
