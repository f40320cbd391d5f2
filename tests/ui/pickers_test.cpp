// Adding nodes from the viewport pick mode and the select-by-name dialog, and Particle Flow
// events from the "Add Particle Flow Events" dialog.
#include "tests/ui/ui_fixture.h"

#include "ui/Nodes.h"

using namespace velquin;

namespace {

class Pickers : public uitest::UiFixture {
protected:
    void SetUp() override {
        UiFixture::SetUp();
        obj = newObject();
        objNode->SetNodeTMConstant(TransMatrix(Point3(120.0f, 0.0f, 0.0f)));
        a = newSphere("A", Point3(-90.0f, 0.0f, 0.0f));
        b = newSphere("B", Point3(0.0f, 0.0f, 0.0f));
        c = newSphere("C", Point3(0.0f, 0.0f, 80.0f));
        vpt = core->GetActiveViewport();
        beginEditing();
        nodes = rollout(NodesRollout);
    }
    BOOL pickAt(const Point3& p) { return core->SimulatePick(vpt, screenOf(p)); }

    INode *a = nullptr, *b = nullptr, *c = nullptr;
    ViewExp* vpt = nullptr;
    HWND nodes = nullptr;
};

TEST_F(Pickers, PickButtonStartsTheModeAndPicksSeveralNodesInARow) {
    UserClickButton(nodes, 1334);
    EXPECT_EQ(obj->pickingActive, 1);
    EXPECT_TRUE(checked(nodes, 1334));
    ASSERT_NE(core->GetCurPickMode(), nullptr);
    EXPECT_EQ(core->GetCurrentCursor(), LoadCursor(nullptr, IDC_ARROW));
    EXPECT_TRUE(core->SimulateMouseMove(vpt, screenOf(Point3(-90.0f, 0.0f, 0.0f))));
    EXPECT_EQ(core->GetCurrentCursor(), LoadCursor(nullptr, IDC_CROSS));

    ASSERT_TRUE(pickAt(Point3(-90.0f, 0.0f, 0.0f)));
    ASSERT_EQ(pb()->Count(pb_nodes), 1);
    EXPECT_EQ(pb()->GetINode(pb_nodes, 0, 0), a);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    EXPECT_EQ(macroRecorder->LastLine(), "$.VelquinMetaballOps.addMetaball $'A'");
    EXPECT_EQ(items(nodes, 1336, false), (std::vector<std::string>{"A"}));

    // The mode stays on for the next node.
    ASSERT_TRUE(pickAt(Point3(0.0f, 0.0f, 0.0f)));
    EXPECT_EQ(pb()->Count(pb_nodes), 2);
    EXPECT_EQ(obj->pickingActive, 1);
    EXPECT_EQ(theHold.UndoCount(), 2);

    // A second click on "Pick" ends it.
    UserClickButton(nodes, 1334);
    EXPECT_EQ(obj->pickingActive, 0);
    EXPECT_FALSE(checked(nodes, 1334));
    EXPECT_EQ(core->GetCurPickMode(), nullptr);
}

TEST_F(Pickers, PickingTheSameNodeTwiceAddsItOnce) {
    UserClickButton(nodes, 1334);
    ASSERT_TRUE(pickAt(Point3(-90.0f, 0.0f, 0.0f)));
    int redraws = core->RedrawCount();
    EXPECT_FALSE(pickAt(Point3(-90.0f, 0.0f, 0.0f)));
    EXPECT_EQ(pb()->Count(pb_nodes), 1);
    EXPECT_EQ(theHold.UndoCount(), 1);
    EXPECT_EQ(core->RedrawCount(), redraws);
    EXPECT_EQ(macroRecorder->Lines().size(), 1u);
}

TEST_F(Pickers, LoopClosingNodeIsRefused) {
    // The object's own node depends on the object; it is there to be hit...
    IPoint2 at = screenOf(Point3(120.0f, 0.0f, 0.0f));
    ASSERT_EQ(core->PickNode(vpt->GetHWnd(), at, nullptr), objNode);
    // ...but the pick mode will not take it.
    UserClickButton(nodes, 1334);
    EXPECT_FALSE(core->SimulatePick(vpt, at));
    EXPECT_EQ(pb()->Count(pb_nodes), 0);
    EXPECT_EQ(theHold.UndoCount(), 0);
    EXPECT_EQ(obj->pickingActive, 1);
}

TEST_F(Pickers, RightClickEndsTheModeAndUnchecksPick) {
    UserClickButton(nodes, 1334);
    ASSERT_TRUE(checked(nodes, 1334));
    core->SimulateRightClick(vpt, IPoint2{5, 5});
    EXPECT_EQ(core->GetCurPickMode(), nullptr);
    EXPECT_EQ(obj->pickingActive, 0);
    EXPECT_FALSE(checked(nodes, 1334));
    EXPECT_FALSE(pickAt(Point3(-90.0f, 0.0f, 0.0f)));
    EXPECT_EQ(pb()->Count(pb_nodes), 0);
}

TEST_F(Pickers, EndingTheEditEndsTheMode) {
    UserClickButton(nodes, 1334);
    endEditing();
    EXPECT_EQ(core->GetCurPickMode(), nullptr);
    EXPECT_EQ(obj->pickingActive, 0);
}

TEST_F(Pickers, SelectByNameAddsAllChosenNodesUnderOneUndoEntry) {
    core->SetHitByNameChooser(ChooseNodesByName({"C", "A", "B"}));
    UserClickButton(nodes, 1332);
    ASSERT_EQ(core->HitByNameDialogCount(), 1);
    const HitByNameView& view = core->LastHitByNameView();
    EXPECT_EQ(view.title, "Add Blobs");
    EXPECT_EQ(view.button, "Add Blobs");
    EXPECT_FALSE(view.singleSelect);
    // The object's own node is not offered: it would close a loop.
    EXPECT_EQ(view.offered, (std::vector<INode*>{a, b, c}));

    ASSERT_EQ(pb()->Count(pb_nodes), 3);
    EXPECT_EQ(pb()->GetINode(pb_nodes, 0, 0), c);
    EXPECT_EQ(pb()->GetINode(pb_nodes, 0, 1), a);
    EXPECT_EQ(pb()->GetINode(pb_nodes, 0, 2), b);
    EXPECT_EQ(theHold.UndoCount(), 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    EXPECT_EQ(macroRecorder->Lines().size(), 3u);
    EXPECT_EQ(items(nodes, 1336, false), (std::vector<std::string>{"C", "A", "B"}));

    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(pb()->Count(pb_nodes), 0);

    // Nodes already in the list are no longer offered.
    obj->addMetaball(a);
    UserClickButton(nodes, 1332);
    EXPECT_EQ(core->LastHitByNameView().offered, (std::vector<INode*>{b, c}));
}

TEST_F(Pickers, SelectByNameConfirmedEmptyOrCancelledAddsNothing) {
    core->SetHitByNameChooser([](const HitByNameView&, std::vector<INode*>&) { return true; });
    UserClickButton(nodes, 1332);
    core->SetHitByNameChooser([](const HitByNameView& v, std::vector<INode*>& chosen) {
        chosen = v.offered;
        return false;
    });
    UserClickButton(nodes, 1332);
    EXPECT_EQ(core->HitByNameDialogCount(), 2);
    EXPECT_EQ(pb()->Count(pb_nodes), 0);
    EXPECT_EQ(theHold.UndoCount(), 0);
}

// Two Particle Flow systems with their events, and a driver that plays the events dialog.
class EventsDialog : public uitest::UiFixture {
protected:
    void SetUp() override {
        UiFixture::SetUp();
        obj = newObject();
        Scene& scene = core->GetScene();
        sys1 = new PFlowSystemObject();
        sysNode1 = scene.CreateNode(sys1, "PF Source 001");
        e1a = sys1->AddEvent(scene, "Event 1a");
        sys2 = new PFlowSystemObject();
        sysNode2 = scene.CreateNode(sys2, "PF Source 002");
        e2a = sys2->AddEvent(scene, "Event 2a");
        e2b = sys2->AddEvent(scene, "Event 2b");
        sphere = newSphere("Ball");
    }
    // Chooses the given lines and confirms (or cancels), remembering what the dialog listed.
    void playDialog(std::vector<int> lines, int button) {
        SetModalDialogDriver([this, lines, button](HWND d) {
            ++dialogs;
            listed = items(d, IDC_EVENT_LIST, false);
            for (size_t k = 0; k < lines.size(); ++k)
                UserSelectListItem(d, IDC_EVENT_LIST, lines[k], k > 0);
            if (button)
                UserClickButton(d, button);
        });
    }
    void clickAdd() { UserClickButton(rollout(FlowRollout), IDC_ADD_EVENTS); }
    std::vector<INode*> pflow() {
        std::vector<INode*> out;
        for (int i = 0; i < pb()->Count(pb_pflow); ++i)
            out.push_back(pb()->GetINode(pb_pflow, 0, i));
        return out;
    }

    PFlowSystemObject *sys1 = nullptr, *sys2 = nullptr;
    INode *sysNode1 = nullptr, *sysNode2 = nullptr, *e1a = nullptr, *e2a = nullptr, *e2b = nullptr,
          *sphere = nullptr;
    std::vector<std::string> listed;
    int dialogs = 0;
};

TEST_F(EventsDialog, ListsEventsInTheOrderOfTheSystemsAndAppendsUnderOneEntry) {
    obj->addMetaball(sphere);
    obj->addMetaball(sysNode2);
    obj->addMetaball(sysNode1);
    beginEditing();
    int undo = theHold.UndoCount();
    playDialog({0, 2}, IDOK);
    clickAdd();
    ASSERT_EQ(dialogs, 1);
    EXPECT_EQ(listed, (std::vector<std::string>{"Event 2a", "Event 2b", "Event 1a"}));
    EXPECT_EQ(pflow(), (std::vector<INode*>{e2a, e1a}));
    EXPECT_EQ(obj->flowEventCandidates.Count(), 3);
    EXPECT_EQ(obj->flowEventSelection.Count(), 2);
    EXPECT_EQ(theHold.UndoCount(), undo + 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Events");
    EXPECT_EQ(items(rollout(FlowRollout), 1003, false),
              (std::vector<std::string>{"Event 2a", "Event 1a"}));

    // An event already in "pflow" is appended a second time.
    playDialog({2}, IDOK);
    clickAdd();
    EXPECT_EQ(pflow(), (std::vector<INode*>{e2a, e1a, e1a}));
    EXPECT_EQ(obj->flowEventSelection.Count(), 1);

    ASSERT_TRUE(theHold.Undo());
    ASSERT_TRUE(theHold.Undo());
    EXPECT_TRUE(pflow().empty());
}

TEST_F(EventsDialog, CancellingOrClosingChangesNothing) {
    obj->addMetaball(sysNode1);
    obj->addMetaball(sysNode2);
    beginEditing();
    int undo = theHold.UndoCount();
    playDialog({0, 1}, IDCANCEL);
    clickAdd();
    EXPECT_EQ(listed, (std::vector<std::string>{"Event 1a", "Event 2a", "Event 2b"}));
    EXPECT_TRUE(pflow().empty());
    EXPECT_EQ(obj->flowEventCandidates.Count(), 0);
    EXPECT_EQ(theHold.UndoCount(), undo);

    playDialog({1}, 0); // the user closes the window
    clickAdd();
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(pflow().empty());
    EXPECT_EQ(theHold.UndoCount(), undo);

    playDialog({}, IDOK); // confirmed with nothing chosen
    clickAdd();
    EXPECT_TRUE(pflow().empty());
    EXPECT_EQ(theHold.UndoCount(), undo);
}

TEST_F(EventsDialog, NoSystemInNodesOpensNoDialog) {
    obj->addMetaball(sphere);
    beginEditing();
    playDialog({0}, IDOK);
    clickAdd();
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(pflow().empty());
    // The script function does the same as the button.
    obj->addMetaball(sysNode1);
    obj->addPF();
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(pflow(), (std::vector<INode*>{e1a}));
}

TEST_F(EventsDialog, EnumProcCollectsNodesBehindOtherDependents) {
    MyEnumProc proc;
    sys2->DoEnumDependents(&proc);
    // The system's own node and both event nodes (reached through their group objects).
    std::vector<INode*> found(proc.nodes.begin(), proc.nodes.end());
    EXPECT_EQ(found, (std::vector<INode*>{sysNode2, e2a, e2b}));
    MyEnumProc first;
    first.stopAfterFirst = true;
    sys2->DoEnumDependents(&first);
    EXPECT_EQ(first.nodes.Count(), 1);
}

} // namespace
